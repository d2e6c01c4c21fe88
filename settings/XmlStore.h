// A small registry-shaped key/value store in one XML file under ~/.TAV/.
// Keys are element paths ("software\<model>"), values are child elements
// holding their bytes as lower-case hex with a numeric "type" attribute.
// Each use opens a key (loading the document), reads or writes values and
// closes it (saving the document); nothing stays in memory between uses.
// Thread safety: the functions keep no shared state; two handles on the same
// file are independent documents and the last close wins.
#pragma once

#include <cstddef>

class TiXmlDocument;
class TiXmlNode;

// An open key: the loaded document (owned until XMLCloseKey) and the key node.
struct xmlHandle {
    TiXmlDocument *doc;
    TiXmlNode *key;
};

// Room for a directory path or a key path component.
constexpr size_t kXmlPathSize = 256;

// Writes "<home>/.TAV/" into path (kXmlPathSize bytes) and creates the
// directory, closed to other users' writes (EnsurePrivateFolder).
bool initConfigSaveDir(char *path);

// Replaces a character that cannot stand in an XML name by '_'.
void replaceChar(char *c);
// replaceChar on every character of text (null or empty: nothing).
void clearSpace(char *text);

// Splits a path at '/' and '\' (empty components dropped, each cut at 255
// characters). Returns the count; fills parts unless it is null.
int getFolderName(const char *path, char (*parts)[kXmlPathSize]);

bool XMLOpenKey(const char *file, const char *keyPath, xmlHandle *handle);
bool XMLCreateKey(const char *file, const char *keyPath, xmlHandle *handle, const char *attr);
void XMLSetValueEx(xmlHandle handle, const char *name, const int *attr, int type,
                   unsigned char *data, int size);
// *size: capacity of data on entry, stored length on return.
bool XMLQueryValueEx(xmlHandle handle, const char *name, int *attr, int *type, unsigned char *data,
                     int *size);
// Saves the document (atomically: temporary file, then rename) and frees it.
void XMLCloseKey(xmlHandle *handle);
