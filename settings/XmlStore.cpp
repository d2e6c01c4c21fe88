#include "settings/XmlStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <tinyxml.h>

#include "log/DbgPrint.h"
#include "log/HomeDir.h"

namespace {

constexpr char kTypeAttr[] = "type";
constexpr char kAttrAttr[] = "attr";
constexpr char kDateAttr[] = "date";

std::vector<std::string> SplitCleanPath(const char *keyPath)
{
    std::vector<std::string> components;
    if (keyPath == nullptr)
        return components;
    std::string cleaned(keyPath);
    clearSpace(cleaned.data());
    const int count = getFolderName(cleaned.c_str(), nullptr);
    std::unique_ptr<char[][kXmlPathSize]> parts(new char[count][kXmlPathSize]);
    getFolderName(cleaned.c_str(), parts.get());
    for (int i = 0; i < count; ++i)
        components.emplace_back(parts[i]);
    return components;
}

std::string CleanName(const char *name)
{
    std::string cleaned(name == nullptr ? "" : name);
    clearSpace(cleaned.data());
    return cleaned;
}

std::string LocalTimeStamp()
{
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char text[32];
    snprintf(text, sizeof text, "%04d%02d%02d_%02d%02d%02d", local.tm_year + 1900,
             local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

bool ConfigFilePath(const char *file, std::string &path)
{
    char dir[kXmlPathSize] = {};
    if (!initConfigSaveDir(dir))
        return false;
    path = std::string(dir) + file;
    return true;
}

// A value element is usable when it is an element with a "type" and a text.
bool IsIntactValue(TiXmlNode *node)
{
    TiXmlElement *element = node->ToElement();
    return element != nullptr && element->Attribute(kTypeAttr) != nullptr &&
           element->GetText() != nullptr;
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsHexText(const char *text, size_t length)
{
    if (length % 2 != 0)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (HexDigitValue(text[i]) < 0)
            return false;
    return true;
}

void SetOptionalAttr(TiXmlElement *element, const int *attr)
{
    if (attr != nullptr)
        element->SetAttribute(kAttrAttr, *attr);
}

// Writes the document next to its file and renames it over the old one, so a
// crash or a full disk never leaves a half-written settings file.
bool SaveAtomically(const TiXmlDocument &doc, const std::string &path)
{
    std::string tmpPath = path + ".XXXXXX";
    int fd = mkstemp(tmpPath.data());
    if (fd < 0)
        return false;
    struct stat old {};
    fchmod(fd, stat(path.c_str(), &old) == 0 ? (old.st_mode & 0777) : 0644);
    FILE *fp = fdopen(fd, "w");
    if (fp == nullptr) {
        close(fd);
        unlink(tmpPath.c_str());
        return false;
    }
    bool ok = doc.SaveFile(fp);
    ok = fflush(fp) == 0 && ok;
    ok = fsync(fileno(fp)) == 0 && ok;
    ok = fclose(fp) == 0 && ok;
    if (ok)
        ok = rename(tmpPath.c_str(), path.c_str()) == 0;
    if (!ok)
        unlink(tmpPath.c_str());
    return ok;
}

} // namespace

bool initConfigSaveDir(char *path)
{
    std::string home;
    if (!GetHomeDir(home)) {
        DbgPrint(-1, "initConfigSaveDir", "get home path err\n");
        return false;
    }
    snprintf(path, kXmlPathSize, "%s/.TAV/", home.c_str());
    if (access(path, F_OK) == 0)
        return true;
    if (mkdir(path, 0700) != 0) {
        DbgPrint(-1, "initConfigSaveDir", "mkdir err\n");
        return false;
    }
    if (chmod(path, strtol("0777", nullptr, 8)) != 0)
        DbgPrint(-1, "initConfigSaveDir", "chmod error: %s\n", strerror(errno));
    return true;
}

void replaceChar(char *c)
{
    static const char kReplaced[] = " !\"#$%&'()*+,:;<=>?@[]^`{|}~";
    if (*c != '\0' && strchr(kReplaced, *c) != nullptr)
        *c = '_';
}

void clearSpace(char *text)
{
    if (text == nullptr)
        return;
    for (; *text != '\0'; ++text)
        replaceChar(text);
}

int getFolderName(const char *path, char (*parts)[kXmlPathSize])
{
    int count = 0;
    const char *p = path;
    while (p != nullptr && *p != '\0') {
        while (*p == '/' || *p == '\\')
            ++p;
        const char *start = p;
        while (*p != '\0' && *p != '/' && *p != '\\')
            ++p;
        size_t length = static_cast<size_t>(p - start);
        if (length == 0)
            continue;
        if (parts != nullptr) {
            size_t kept = length < kXmlPathSize - 1 ? length : kXmlPathSize - 1;
            memcpy(parts[count], start, kept);
            parts[count][kept] = '\0';
        }
        ++count;
    }
    return count;
}

bool XMLOpenKey(const char *file, const char *keyPath, xmlHandle *handle)
{
    handle->doc = nullptr;
    handle->key = nullptr;
    std::string path;
    if (!ConfigFilePath(file, path))
        return false;
    auto *doc = new TiXmlDocument(path.c_str());
    if (!doc->LoadFile()) {
        DbgPrint(-1, "XMLOpenKey", "Could not load test file %s. Error='%s'. Exiting.\n",
                 path.c_str(), doc->ErrorDesc());
        delete doc;
        return false;
    }
    TiXmlNode *key = doc;
    for (const std::string &component : SplitCleanPath(keyPath)) {
        key = key->FirstChildElement(component.c_str());
        if (key == nullptr) {
            DbgPrint(-1, "XMLOpenKey", "find child err\n");
            delete doc;
            return false;
        }
    }
    handle->doc = doc;
    handle->key = key;
    return true;
}

bool XMLCreateKey(const char *file, const char *keyPath, xmlHandle *handle, const char *attr)
{
    handle->doc = nullptr;
    handle->key = nullptr;
    std::string path;
    if (!ConfigFilePath(file, path))
        return false;
    const std::vector<std::string> components = SplitCleanPath(keyPath);
    if (components.empty())
        return false;

    auto *doc = new TiXmlDocument(path.c_str());
    if (!doc->LoadFile()) {
        DbgPrint(-1, "XMLCreateKey", "Could not load test file %s. Error='%s'. Create new.\n",
                 path.c_str(), doc->ErrorDesc());
        // A damaged file is replaced as a whole by the next save.
        doc->Clear();
        doc->ClearError();
        doc->LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", ""));
    }

    TiXmlNode *key = doc;
    for (size_t i = 0; i < components.size(); ++i) {
        TiXmlElement *child = key->FirstChildElement(components[i].c_str());
        if (child == nullptr) {
            child = new TiXmlElement(components[i].c_str());
            child->SetAttribute(kDateAttr, LocalTimeStamp().c_str());
            if (i + 1 == components.size() && attr != nullptr)
                child->SetAttribute(kAttrAttr, attr);
            key->LinkEndChild(child);
        }
        key = child;
    }
    handle->doc = doc;
    handle->key = key;
    return true;
}

void XMLSetValueEx(xmlHandle handle, const char *name, const int *attr, int type,
                   unsigned char *data, int size)
{
    if (handle.doc == nullptr || handle.key == nullptr || size < 1 || data == nullptr)
        return;

    std::string digits(static_cast<size_t>(size) * 2, '0');
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < size; ++i) {
        digits[2 * i] = kHex[data[i] >> 4];
        digits[2 * i + 1] = kHex[data[i] & 0x0F];
    }
    const std::string cleaned = CleanName(name);

    // Damaged children are removed wherever they stand; stopping at the first
    // one would append a second element behind an intact older one, which a
    // query (taking the first match) would then keep returning.
    TiXmlNode *child = handle.key->FirstChild();
    while (child != nullptr) {
        TiXmlNode *next = child->NextSibling();
        if (!IsIntactValue(child)) {
            DbgPrint(-1, "XMLSetValueEx", "content error, remove item\n");
            handle.key->RemoveChild(child);
        } else if (cleaned == child->Value()) {
            TiXmlElement *element = child->ToElement();
            element->FirstChild()->SetValue(digits.c_str());
            element->SetAttribute(kTypeAttr, type);
            SetOptionalAttr(element, attr);
            return;
        }
        child = next;
    }

    auto *element = new TiXmlElement(cleaned.c_str());
    element->SetAttribute(kTypeAttr, type);
    SetOptionalAttr(element, attr);
    element->LinkEndChild(new TiXmlText(digits.c_str()));
    handle.key->LinkEndChild(element);
}

bool XMLQueryValueEx(xmlHandle handle, const char *name, int *attr, int *type,
                     unsigned char *data, int *size)
{
    if (handle.doc == nullptr || handle.key == nullptr || handle.key->FirstChild() == nullptr)
        return false;
    const std::string cleaned = CleanName(name);
    TiXmlNode *child = handle.key->FirstChild();
    while (child != nullptr && cleaned != child->Value())
        child = child->NextSibling();
    if (child == nullptr || !IsIntactValue(child))
        return false;

    TiXmlElement *element = child->ToElement();
    const char *text = element->GetText();
    const size_t digitCount = strlen(text);
    int storedType = 0;
    if (!IsHexText(text, digitCount) ||
        element->QueryIntAttribute(kTypeAttr, &storedType) != TIXML_SUCCESS)
        return false;

    int storedAttr = 0;
    if (attr != nullptr && element->QueryIntAttribute(kAttrAttr, &storedAttr) == TIXML_SUCCESS)
        *attr = storedAttr;
    if (type != nullptr)
        *type = storedType;

    const int stored = static_cast<int>(digitCount / 2);
    const int capacity = size != nullptr ? *size : 0;
    if (data != nullptr) {
        for (int i = 0; i < stored && i < capacity; ++i)
            data[i] = static_cast<unsigned char>(HexDigitValue(text[2 * i]) * 16 +
                                                 HexDigitValue(text[2 * i + 1]));
    }
    if (size != nullptr)
        *size = stored;
    return true;
}

void XMLCloseKey(xmlHandle *handle)
{
    if (handle->doc == nullptr)
        return;
    if (!SaveAtomically(*handle->doc, handle->doc->Value()))
        DbgPrint(-1, "XMLCloseKey", "Reg Save failed\n");
    delete handle->doc;
    handle->doc = nullptr;
    handle->key = nullptr;
}
