#include "JSONLookup.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <string>

cJSON* get_param_item(const cJSON* item, const char* path)
{
    if (!item)
        return nullptr;
    cJSON* current = const_cast<cJSON*>(item);
    if (!path || !*path)
        return current;

    const char* p = path;
    std::string name;
    while (*p) {
        // The first character always belongs to the name; the next ":" ends it.
        const char* end = std::strchr(p + 1, ':');
        if (!end)
            end = p + std::strlen(p);
        name.assign(p, end);
        if (!cJSON_IsObject(current))
            return nullptr;
        current = cJSON_GetObjectItem(current, name.c_str());
        if (!current)
            return nullptr;
        if (!*end)
            break;
        p = end + 1; // a path ending with ":" names the item reached so far
    }
    return current;
}

int paramInt(const cJSON* item, const char* path, int def)
{
    const cJSON* found = get_param_item(item, path);
    if (!cJSON_IsNumber(found))
        return def;
    const double value = found->valuedouble;
    if (std::isnan(value))
        return def;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}

double paramFloat(const cJSON* item, const char* path, double def)
{
    const cJSON* found = get_param_item(item, path);
    return cJSON_IsNumber(found) ? found->valuedouble : def;
}

bool paramBool(const cJSON* item, const char* path, bool def)
{
    const cJSON* found = get_param_item(item, path);
    if (cJSON_IsTrue(found))
        return true;
    if (cJSON_IsFalse(found))
        return false;
    return def;
}

const char* paramString(const cJSON* item, const char* path, const char* def)
{
    const cJSON* found = get_param_item(item, path);
    return cJSON_IsString(found) && found->valuestring ? found->valuestring : def;
}

cJSON* setStringToObject(cJSON* object, const char* key, const char* text)
{
    if (!cJSON_IsObject(object) || !key || !text)
        return nullptr;
    cJSON* string = cJSON_CreateString(text);
    if (!string)
        return nullptr;
    // Older members first, so that the case-insensitive delete can never hit the new one.
    while (cJSON_GetObjectItem(object, key))
        cJSON_DeleteItemFromObject(object, key);
    if (!cJSON_AddItemToObject(object, key, string)) {
        cJSON_Delete(string);
        return nullptr;
    }
    return string;
}
