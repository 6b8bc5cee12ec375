#include "SecretKeychain.h"

#include <QCoreApplication>

// glib uses "signals" as a name, which Qt defines as a keyword
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <mutex>

namespace {

SecretKeychain* g_override = nullptr;
std::mutex g_mutex; // libsecret's synchronous calls run one at a time

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

const SecretSchema* schema()
{
    static const SecretSchema s = { SecretKeychain::SchemaName, SECRET_SCHEMA_NONE,
        { { "service", SECRET_SCHEMA_ATTRIBUTE_STRING }, { "account", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { "kind", SECRET_SCHEMA_ATTRIBUTE_STRING }, { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING } },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr };
    return &s;
}

void setError(QString* error, GError* e, const char* fallback)
{
    if (error)
        *error = e && e->message ? QString::fromUtf8(e->message) : tr(fallback);
}

// One search by schema and account: the items, or Unavailable with the reason.
struct Search
{
    SecretService* service = nullptr;
    GList* items = nullptr;
    ~Search()
    {
        g_list_free_full(items, g_object_unref);
        if (service)
            g_object_unref(service);
    }
};

SecretKeychain::Status search(const QString& account, bool loadSecrets, Search* s, QString* error)
{
    GError* e = nullptr;
    s->service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &e);
    if (!s->service) {
        setError(error, e, "The keychain service cannot be reached.");
        g_clear_error(&e);
        return SecretKeychain::Status::Unavailable;
    }
    GHashTable* attrs = g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, g_free);
    const QByteArray acc = account.toUtf8();
    g_hash_table_insert(attrs, const_cast<char*>("account"), g_strdup(acc.constData()));
    s->items = secret_service_search_sync(s->service, schema(), attrs, SECRET_SEARCH_ALL, nullptr, &e);
    g_hash_table_unref(attrs);
    if (e) {
        setError(error, e, "The keychain cannot be searched.");
        g_clear_error(&e);
        return SecretKeychain::Status::Unavailable;
    }
    for (GList* l = s->items; l; l = l->next) {
        if (secret_item_get_locked(SECRET_ITEM(l->data))) {
            if (error)
                *error = tr("The keychain is locked.");
            return SecretKeychain::Status::Unavailable;
        }
        if (loadSecrets && !secret_item_get_secret(SECRET_ITEM(l->data))) {
            if (!secret_item_load_secret_sync(SECRET_ITEM(l->data), nullptr, &e)) {
                setError(error, e, "The keychain item cannot be read.");
                g_clear_error(&e);
                return SecretKeychain::Status::Unavailable;
            }
        }
    }
    return s->items ? SecretKeychain::Status::Ok : SecretKeychain::Status::NotFound;
}

} // namespace

SecretKeychain::~SecretKeychain() = default;

SecretKeychain& SecretKeychain::shared()
{
    static SecretKeychain real;
    return g_override ? *g_override : real;
}

void SecretKeychain::setShared(SecretKeychain* keychain)
{
    g_override = keychain;
}

void SecretKeychain::disconnect()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    secret_service_disconnect();
    // GDBus lets go of a closed session connection only when the callbacks that still hold it
    // have run; then the next use connects to the bus that DBUS_SESSION_BUS_ADDRESS names now
    for (int i = 0; i < 1000 && g_main_context_iteration(nullptr, FALSE); ++i) { }
}

SecretKeychain::Status SecretKeychain::count(const QString& account, int* count, QString* error)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Search s;
    const Status st = search(account, false, &s, error);
    if (count)
        *count = st == Status::Ok ? int(g_list_length(s.items)) : 0;
    return st;
}

SecretKeychain::Status SecretKeychain::read(const QString& account, QString* secret, QString* error)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (secret)
        *secret = QString();
    Search s;
    const Status st = search(account, true, &s, error);
    if (st != Status::Ok)
        return st;
    SecretValue* value = secret_item_get_secret(SECRET_ITEM(s.items->data));
    if (!value) {
        if (error)
            *error = tr("The keychain item cannot be read.");
        return Status::Unavailable;
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    if (secret)
        *secret = QString::fromUtf8(bytes, qsizetype(length));
    secret_value_unref(value);
    return Status::Ok;
}

SecretKeychain::Status SecretKeychain::add(const QString& service, const QString& account,
    const QString& kind, const QString& label, const QString& secret, QString* error)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    GError* e = nullptr;
    SecretService* svc = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &e);
    if (!svc) {
        setError(error, e, "The keychain service cannot be reached.");
        g_clear_error(&e);
        return Status::Unavailable;
    }
    // never let libsecret unlock (and prompt) on its own
    SecretCollection* collection = secret_collection_for_alias_sync(
        svc, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &e);
    const bool usable = collection && !secret_collection_get_locked(collection);
    if (collection)
        g_object_unref(collection);
    if (!usable) {
        if (e)
            setError(error, e, "");
        else if (error)
            *error
                = collection ? tr("The keychain is locked.") : tr("The keychain has no default collection.");
        g_clear_error(&e);
        g_object_unref(svc);
        return Status::Unavailable;
    }
    const QByteArray svcText = service.toUtf8(), acc = account.toUtf8(), kd = kind.toUtf8(),
                     lbl = label.toUtf8(), pw = secret.toUtf8();
    GHashTable* attrs = g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, g_free);
    g_hash_table_insert(attrs, const_cast<char*>("service"), g_strdup(svcText.constData()));
    g_hash_table_insert(attrs, const_cast<char*>("account"), g_strdup(acc.constData()));
    g_hash_table_insert(attrs, const_cast<char*>("kind"), g_strdup(kd.constData()));
    SecretValue* value = secret_value_new(pw.constData(), pw.size(), "text/plain");
    const gboolean ok = secret_service_store_sync(
        svc, schema(), attrs, SECRET_COLLECTION_DEFAULT, lbl.constData(), value, nullptr, &e);
    secret_value_unref(value);
    g_hash_table_unref(attrs);
    g_object_unref(svc);
    if (!ok) {
        setError(error, e, "The keychain item cannot be created.");
        g_clear_error(&e);
        return Status::Unavailable;
    }
    return Status::Ok;
}

SecretKeychain::Status SecretKeychain::modify(const QString& account, const QString& secret, QString* error)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Search s;
    const Status st = search(account, false, &s, error);
    if (st != Status::Ok)
        return st;
    const QByteArray pw = secret.toUtf8();
    SecretValue* value = secret_value_new(pw.constData(), pw.size(), "text/plain");
    GError* e = nullptr;
    const gboolean ok = secret_item_set_secret_sync(SECRET_ITEM(s.items->data), value, nullptr, &e);
    secret_value_unref(value);
    if (!ok) {
        setError(error, e, "The keychain item cannot be changed.");
        g_clear_error(&e);
        return Status::Unavailable;
    }
    return Status::Ok;
}

SecretKeychain::Status SecretKeychain::remove(const QString& account, QString* error)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Search s;
    const Status st = search(account, false, &s, error);
    if (st != Status::Ok)
        return st;
    GError* e = nullptr;
    if (!secret_item_delete_sync(SECRET_ITEM(g_list_last(s.items)->data), nullptr, &e)) {
        setError(error, e, "The keychain item cannot be deleted.");
        g_clear_error(&e);
        return Status::Unavailable;
    }
    return Status::Ok;
}
