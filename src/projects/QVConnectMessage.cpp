#include "projects/QVConnectMessage.h"

#include "platform/DistributedNotificationCenter.h"
#include "projects/QVAgentState.h"
#include "utilities/ICommon.h"

#include <QLocale>
#include <QtGlobal>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cjson/cJSON.h>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

std::atomic<int> g_programType { QVConnectMessage::MainApplication };

const char* const kType = "Type";
const char* const kSenderData = "SenderData";
const char* const kProgramType = "ProgramType";
const char* const kPromotionType = "PromotionType";
const char* const kProtocolVersion = "ProtocolVersion";
const char* const kAgentState = "AgentState";
const char* const kState = "State";
const char* const kModifyInterval = "ModifyInterval";
const char* const kScheduleResumeDate = "ScheduleResumeDate";
const char* const kText = "Text";

// The exact shortest text of a double that reads back to the same bits, independent of the
// locale; cJSON's own printing rounds about half of all millisecond stamps to another double,
// which would break the merge's comparison of equal stamps.
cJSON* exactNumber(double value)
{
    if (!std::isfinite(value))
        return cJSON_CreateNull();
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer - 1, value);
    *result.ptr = '\0';
    return cJSON_CreateRaw(buffer);
}

// A number (or a JSON boolean, as a number object would give) from an item; nothing otherwise.
std::optional<double> numberOf(const cJSON* item)
{
    if (cJSON_IsNumber(item))
        return item->valuedouble;
    if (cJSON_IsBool(item))
        return cJSON_IsTrue(item) ? 1.0 : 0.0;
    if (cJSON_IsRaw(item) && item->valuestring) {
        // Numbers this process wrote itself with exactNumber().
        double value = 0;
        const char* end = item->valuestring + std::strlen(item->valuestring);
        const auto result = std::from_chars(item->valuestring, end, value);
        if (result.ec == std::errc() && result.ptr == end)
            return value;
    }
    return std::nullopt;
}

int toInt(double value)
{
    if (std::isnan(value))
        return 0;
    return static_cast<int>(std::clamp(value, double(INT_MIN), double(INT_MAX)));
}

const cJSON* member(const cJSON* object, const char* key)
{
    return cJSON_IsObject(object) ? cJSON_GetObjectItemCaseSensitive(object, key) : nullptr;
}

// Text that survives the trip over the bus unchanged: the bus carries UTF-8, and the stand-ins
// for bytes that are not UTF-8 (lone surrogates) would arrive as "?".
bool isSendable(const QString& text)
{
    return text.isValidUtf16();
}

void putMember(cJSON* object, const char* key, cJSON* item)
{
    while (cJSON_GetObjectItemCaseSensitive(object, key))
        cJSON_DeleteItemFromObjectCaseSensitive(object, key);
    cJSON_AddItemToObject(object, key, item);
}

} // namespace

void QVConnectMessage::setProgramType(int programType)
{
    g_programType.store(programType);
}

int QVConnectMessage::programType()
{
    return g_programType.load();
}

QVConnectMessage::QVConnectMessage() = default;

QVConnectMessage::~QVConnectMessage()
{
    cJSON_Delete(m_content);
}

QVConnectMessage::QVConnectMessage(const QVConnectMessage& other)
    : m_content(other.m_content ? cJSON_Duplicate(other.m_content, 1) : nullptr)
{ }

QVConnectMessage& QVConnectMessage::operator=(const QVConnectMessage& other)
{
    if (this != &other) {
        cJSON_Delete(m_content);
        m_content = other.m_content ? cJSON_Duplicate(other.m_content, 1) : nullptr;
    }
    return *this;
}

QVConnectMessage::QVConnectMessage(QVConnectMessage&& other) noexcept
    : m_content(std::exchange(other.m_content, nullptr))
{ }

QVConnectMessage& QVConnectMessage::operator=(QVConnectMessage&& other) noexcept
{
    if (this != &other) {
        cJSON_Delete(m_content);
        m_content = std::exchange(other.m_content, nullptr);
    }
    return *this;
}

void QVConnectMessage::writeSenderData()
{
    cJSON* sender = cJSON_CreateObject();
    cJSON_AddNumberToObject(sender, kProgramType, programType());
    cJSON_AddNumberToObject(sender, kPromotionType, 1);
    cJSON_AddNumberToObject(sender, kProtocolVersion, 1);
    putMember(m_content, kSenderData, sender);
}

QVConnectMessage QVConnectMessage::messageWithSender()
{
    QVConnectMessage message;
    message.m_content = cJSON_CreateObject();
    message.writeSenderData();
    return message;
}

QVConnectMessage QVConnectMessage::messageWithSenderAndType(int type)
{
    QVConnectMessage message = messageWithSender();
    message.setType(type);
    return message;
}

QVConnectMessage QVConnectMessage::messageWithString(const QString& text)
{
    QVConnectMessage message;
    if (!text.startsWith(QLatin1Char('{')))
        return message;
    const QByteArray utf8 = text.toUtf8();
    const char* end = nullptr;
    // Strict: the whole text must be one object, with nothing after it.
    cJSON* parsed = cJSON_ParseWithOpts(utf8.constData(), &end, 1);
    if (cJSON_IsObject(parsed))
        message.m_content = parsed;
    else
        cJSON_Delete(parsed);
    return message;
}

QVConnectMessage QVConnectMessage::messageWithSenderAndType(int type, const QString& text)
{
    QVConnectMessage message = messageWithString(text);
    if (message.m_content) {
        message.setType(type);
        message.writeSenderData();
    }
    return message;
}

cJSON* QVConnectMessage::item(const QString& key) const
{
    if (!m_content || key.isNull())
        return nullptr;
    return cJSON_GetObjectItemCaseSensitive(m_content, key.toUtf8().constData());
}

void QVConnectMessage::replace(const QString& key, cJSON* newItem)
{
    if (!m_content || key.isNull()) {
        cJSON_Delete(newItem);
        return;
    }
    putMember(m_content, key.toUtf8().constData(), newItem);
}

int QVConnectMessage::type() const
{
    const auto value = numberOf(member(m_content, kType));
    return value ? toInt(*value) : 0;
}

void QVConnectMessage::setType(int type)
{
    replace(QString::fromLatin1(kType), cJSON_CreateNumber(type));
}

int QVConnectMessage::senderProgramType() const
{
    const auto value = numberOf(member(member(m_content, kSenderData), kProgramType));
    return value ? toInt(*value) : 0;
}

int QVConnectMessage::senderPromotionType() const
{
    const auto value = numberOf(member(member(m_content, kSenderData), kPromotionType));
    return value ? toInt(*value) : 0;
}

void QVConnectMessage::setInt(int value, const QString& key)
{
    replace(key, cJSON_CreateNumber(value));
}

int QVConnectMessage::intForKey(const QString& key, int def) const
{
    const auto value = numberOf(item(key));
    return value ? toInt(*value) : def;
}

void QVConnectMessage::setFloat(double value, const QString& key)
{
    replace(key, exactNumber(value));
}

double QVConnectMessage::floatForKey(const QString& key, double def) const
{
    return numberOf(item(key)).value_or(def);
}

void QVConnectMessage::setBool(bool value, const QString& key)
{
    replace(key, cJSON_CreateBool(value));
}

bool QVConnectMessage::boolForKey(const QString& key, bool def) const
{
    const auto value = numberOf(item(key));
    return value ? *value != 0 : def;
}

void QVConnectMessage::setString(const QString& value, const QString& key)
{
    if (value.isNull() || !m_content || key.isNull())
        return;
    if (!isSendable(value)) {
        qWarning(
            "QVConnectMessage: \"%s\" left out: the text holds bytes that are not UTF-8", qPrintable(key));
        return;
    }
    replace(key, cJSON_CreateString(value.toUtf8().constData()));
}

QString QVConnectMessage::stringForKey(const QString& key, const QString& def) const
{
    if (!m_content || key.isNull())
        return def;
    const cJSON* value = item(key);
    return cJSON_IsString(value) ? QString::fromUtf8(value->valuestring) : QString();
}

void QVConnectMessage::setDate(const QDateTime& date, const QString& key)
{
    if (!date.isValid() || date.toMSecsSinceEpoch() == 0)
        return;
    setString(textFromDate(date), key);
}

QDateTime QVConnectMessage::dateForKey(const QString& key, const QDateTime& def) const
{
    if (!m_content || key.isNull())
        return def;
    return dateFromText(stringForKey(key));
}

void QVConnectMessage::setArray(const QVariantList& array, const QString& key)
{
    if (!m_content || key.isNull())
        return;
    cJSON* list = cJSON_CreateArray();
    for (const QVariant& value : array) {
        switch (value.typeId()) {
        case QMetaType::QString:
            if (isSendable(value.toString()))
                cJSON_AddItemToArray(list, cJSON_CreateString(value.toString().toUtf8().constData()));
            else
                qWarning("QVConnectMessage: an entry of \"%s\" left out: it holds bytes that are not UTF-8",
                    qPrintable(key));
            break;
        case QMetaType::Bool:
            cJSON_AddItemToArray(list, cJSON_CreateBool(value.toBool()));
            break;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Double:
            cJSON_AddItemToArray(list, exactNumber(value.toDouble()));
            break;
        default:
            qWarning("QVConnectMessage: an entry of \"%s\" of type %s left out", qPrintable(key),
                value.typeName() ? value.typeName() : "none");
            break;
        }
    }
    replace(key, list);
}

std::optional<QVariantList> QVConnectMessage::arrayForKey(const QString& key) const
{
    const cJSON* array = item(key);
    if (!cJSON_IsArray(array))
        return std::nullopt;
    QVariantList list;
    const cJSON* element = nullptr;
    cJSON_ArrayForEach(element, array)
    {
        if (cJSON_IsString(element))
            list.append(QString::fromUtf8(element->valuestring));
        else if (cJSON_IsBool(element))
            list.append(bool(cJSON_IsTrue(element)));
        else if (const auto number = numberOf(element))
            list.append(*number);
    }
    return list;
}

void QVConnectMessage::setAgentState(const QVAgentState* state)
{
    if (!state || !m_content)
        return;
    cJSON* dict = cJSON_CreateObject();
    cJSON_AddNumberToObject(dict, kState, state->getInt());
    cJSON_AddItemToObject(dict, kModifyInterval, exactNumber(state->modifyInterval()));
    if (state->scheduleResumeDate().isValid()) {
        cJSON_AddStringToObject(dict, kScheduleResumeDate,
            QVAgentState::resumeDateText(state->scheduleResumeDate()).toUtf8().constData());
    }
    putMember(m_content, kAgentState, dict);
}

bool QVConnectMessage::getAgentStateTo(QVAgentState* state) const
{
    if (!state)
        return false;
    const cJSON* dict = member(m_content, kAgentState);
    const auto bits = numberOf(member(dict, kState));
    if (!bits)
        return false;
    const double interval = numberOf(member(dict, kModifyInterval)).value_or(0.0);
    const cJSON* date = member(dict, kScheduleResumeDate);
    state->set(toInt(*bits), interval,
        cJSON_IsString(date) ? QVAgentState::resumeDateFromText(QString::fromUtf8(date->valuestring))
                             : QDateTime());
    return true;
}

QString QVConnectMessage::text() const
{
    const QString value = stringForKey(QString::fromLatin1(kText));
    return value.isNull() ? QStringLiteral("-empty-") : value;
}

QString QVConnectMessage::string() const
{
    if (!m_content)
        return QString();
    char* printed = cJSON_PrintUnformatted(m_content);
    if (!printed)
        return QString();
    const QString text = QString::fromUtf8(printed);
    cJSON_free(printed);
    return text;
}

QString QVConnectMessage::description() const
{
    const QString from = senderProgramType() == Agent ? QStringLiteral("agent")
        : senderProgramType() == MainApplication      ? QStringLiteral("main application")
                                                      : QStringLiteral("unknown sender");
    QString what;
    switch (type()) {
    case TypeBuildRequest:
        what = QStringLiteral("build request");
        break;
    case TypeBuildAnswer:
        what = QStringLiteral("build answer: %1").arg(floatForKey(QStringLiteral("Build"), 0.0));
        break;
    case TypeDataRequest:
        what = QStringLiteral("state request");
        break;
    case TypeAgentState:
        what = QStringLiteral("scheduler state");
        break;
    case TypeNextProcessData:
        what = QStringLiteral("next run date and start-on-mount volumes");
        break;
    case TypeStartParametersRequest:
        what = QStringLiteral("start parameters request");
        break;
    case TypeStartParameters:
        what = QStringLiteral("start parameters, reason %1")
                   .arg(intForKey(QStringLiteral("LaunchingReason"), 0));
        break;
    case TypeDebug:
        what = QStringLiteral("debug: %1").arg(text());
        break;
    default:
        what = m_content ? QStringLiteral("type %1, not handled").arg(type())
                         : QStringLiteral("not a message");
        break;
    }
    return QStringLiteral("Agent message %1 from %2: %3").arg(type()).arg(from, what);
}

bool QVConnectMessage::send() const
{
    if (!m_content || type() == TypeNone)
        return false;
    return DistributedNotificationCenter::shared().post(QString::fromLatin1(notificationName), string());
}

QString QVConnectMessage::textFromDate(const QDateTime& date)
{
    if (!date.isValid() || date.toMSecsSinceEpoch() == 0)
        return QStringLiteral("None");
    // The system's one general date text, which the agent writes and reads the same way.
    return ICommon::generalStringFromDateTime(date);
}

QDateTime QVConnectMessage::dateFromText(const QString& text)
{
    if (text.isEmpty())
        return QDateTime();
    // The general text is written in English (United Kingdom), "3 Sept 2026, 07:05:09"; the
    // locale-neutral "3 Sep 2026, 07:05:09" of another build reads too.
    const QString pattern = QStringLiteral("d MMM yyyy, HH:mm:ss");
    QDateTime date = QLocale(QLocale::English, QLocale::UnitedKingdom).toDateTime(text, pattern);
    if (!date.isValid())
        date = QLocale::c().toDateTime(text, pattern);
    return date.isValid() ? date : QDateTime();
}
