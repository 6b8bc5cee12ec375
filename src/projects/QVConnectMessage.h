#pragma once

#include <QDateTime>
#include <QString>
#include <QVariantList>
#include <memory>
#include <optional>

class QVAgentState;
struct cJSON;

// One message between the main application and the agent: a JSON object posted as the object
// text of the notification "QV_CONNECT_MESSAGE". Every message carries "SenderData" with the
// program type of its sender (1 the main application, 2 the agent), so that each program can drop
// its own posts, which it hears too.
//
// Text from the bus is untrusted: a text that is not one JSON object gives a message without
// content, whose type is 0, whose getters answer their defaults and which is never sent.
class QVConnectMessage
{
public:
    enum Type : int
    {
        TypeNone = 0,
        TypeBuildRequest = 1,
        TypeBuildAnswer = 2,
        TypeDataRequest = 3,
        TypeAgentState = 4,
        TypeNextProcessData = 5,
        TypeStartParametersRequest = 6,
        TypeStartParameters = 7,
        TypeDebug = 8,
    };
    enum ProgramType : int
    {
        MainApplication = 1,
        Agent = 2,
    };

    static constexpr const char* notificationName = "QV_CONNECT_MESSAGE";

    // The program type this process writes into "SenderData": 1 unless the agent sets 2 at start.
    static void setProgramType(int programType);
    static int programType();

    // A message without content.
    QVConnectMessage();
    ~QVConnectMessage();
    QVConnectMessage(const QVConnectMessage& other);
    QVConnectMessage& operator=(const QVConnectMessage& other);
    QVConnectMessage(QVConnectMessage&& other) noexcept;
    QVConnectMessage& operator=(QVConnectMessage&& other) noexcept;

    static QVConnectMessage messageWithSender();
    static QVConnectMessage messageWithSenderAndType(int type);
    static QVConnectMessage messageWithString(const QString& text);
    // Parses the text, then writes "Type" and "SenderData" over it (nothing when it did not parse).
    static QVConnectMessage messageWithSenderAndType(int type, const QString& text);

    bool hasContent() const { return m_content != nullptr; }

    int type() const;
    void setType(int type);
    int senderProgramType() const;
    int senderPromotionType() const;

    // Typed access. Setters do nothing without content or with a null key; getters answer the
    // default when the key, the content or a value of the right type is missing.
    void setInt(int value, const QString& key);
    int intForKey(const QString& key, int def) const;
    void setFloat(double value, const QString& key);
    double floatForKey(const QString& key, double def) const;
    void setBool(bool value, const QString& key);
    bool boolForKey(const QString& key, bool def) const;
    // A text that cannot be sent unchanged (bytes that are not UTF-8) is left out and logged.
    void setString(const QString& value, const QString& key);
    // Null when the key is absent or not a text; the default only for a null key or no content.
    QString stringForKey(const QString& key, const QString& def = QString()) const;
    // Written as textFromDate text; nothing for a null date or the 1970 epoch.
    void setDate(const QDateTime& date, const QString& key);
    // Null when the key is absent or unreadable; the default only for a null key or no content.
    QDateTime dateForKey(const QString& key, const QDateTime& def = QDateTime()) const;
    // Arrays of texts, numbers and booleans.
    void setArray(const QVariantList& array, const QString& key);
    std::optional<QVariantList> arrayForKey(const QString& key) const;

    // "AgentState": "State", "ModifyInterval" and, with a resume date, "ScheduleResumeDate".
    void setAgentState(const QVAgentState* state);
    void setAgentState(const QVAgentState& state) { setAgentState(&state); }
    // False without content or without a numeric "AgentState"."State"; otherwise sets the state.
    bool getAgentStateTo(QVAgentState* state) const;
    bool getAgentStateTo(QVAgentState& state) const { return getAgentStateTo(&state); }

    // "Text", or "-empty-".
    QString text() const;
    // The content as compact JSON; null without content.
    QString string() const;
    // A one-line text for logs.
    QString description() const;

    // Posts the message; false without content, for type 0 or when there is no bus.
    bool send() const;

    // The date text inside messages: "None" for a null date or the 1970 epoch.
    static QString textFromDate(const QDateTime& date);
    // Null for empty text or text that does not parse.
    static QDateTime dateFromText(const QString& text);

private:
    void writeSenderData();
    void replace(const QString& key, cJSON* item);
    cJSON* item(const QString& key) const;

    cJSON* m_content = nullptr;
};
