#pragma once

#include <cjson/cJSON.h>

// Lookups on cJSON items by a path of member names separated by ":" ("Options:Compression").
// Member names compare without regard to case, as cJSON's own object lookup does. The first
// character of every name belongs to the name, even when it is a ":" (so "a::b" names the member
// ":b" of "a"); a path that ends with ":" names the item reached so far.

// The item at the path; the item itself for a null or empty path; null when a member on the way
// is missing or an item on the way is not an object. Paths have no length limit.
cJSON* get_param_item(const cJSON* item, const char* path);

// Typed lookups: the value of the item at the path when it has the type, else def. Numbers
// saturate at the int range and are truncated toward zero.
int paramInt(const cJSON* item, const char* path, int def);
double paramFloat(const cJSON* item, const char* path, double def);
// True and false items, whether parsed or built in memory.
bool paramBool(const cJSON* item, const char* path, bool def);
// Points into the item; valid while the item lives.
const char* paramString(const cJSON* item, const char* path, const char* def);

// Replaces the text member named key: every older member of that key (any case, duplicates of
// parsed text included) is deleted and the new string member is added last. Returns the new
// member, or null (object unchanged) when object is not an object or key or text is null.
cJSON* setStringToObject(cJSON* object, const char* key, const char* text);
