#include "settings/XmlStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
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
#include "log/PrivateFolder.h"

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
    snprintf(text, sizeof text, "%04d%02d%02d_%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
             local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
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

// Reads the file without following a link, and only when it is this user's
// own plain file: anything else in its place counts as no file.
bool LoadDocument(TiXmlDocument &doc)
{
    const int fd = OpenOwnFile(doc.Value(), O_RDONLY);
    FILE *fp = fd < 0 ? nullptr : fdopen(fd, "rb");
    if (fp == nullptr) {
        if (fd >= 0)
            close(fd);
        doc.SetError(TiXmlBase::TIXML_ERROR_OPENING_FILE, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
        return false;
    }
    const bool loaded = doc.LoadFile(fp);
    fclose(fp);
    return loaded;
}

// A save writes "<file>.XXXXXX" (mkstemp: six letters or digits) and holds
// an exclusive lock on it from just after creating it until the rename is
// done. A save that was killed leaves its temporary behind unlocked, since
// the kernel drops the locks of a dead process.
bool IsTemporaryOf(const std::string &name, const std::string &file)
{
    return name.size() == file.size() + 7 && name.compare(0, file.size(), file) == 0 &&
           name[file.size()] == '.' &&
           std::all_of(name.begin() + static_cast<long>(file.size()) + 1, name.end(),
                       [](char c) { return isalnum(static_cast<unsigned char>(c)) != 0; });
}

// Removes the temporaries of `path` that no save holds: their writers are
// gone. A save of another process or thread that has created its temporary
// but not locked it yet may lose it here; it finds its file unlinked once it
// has the lock and starts again (CreateLockedTemporary).
void RemoveStaleTemporaries(const std::string &path)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr)
        return;
    const int dirFd = dirfd(dir);
    while (const dirent *entry = readdir(dir)) {
        if (!IsTemporaryOf(entry->d_name, file))
            continue;
        const int fd = openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
            flock(fd, LOCK_EX | LOCK_NB) == 0)
            unlinkat(dirFd, entry->d_name, 0);
        close(fd);
    }
    closedir(dir);
}

// A new temporary next to `path`, locked for this save. Where the file
// system has no locks the temporary is used unlocked (and no clean-up can
// take it, since its lock cannot be had either).
int CreateLockedTemporary(const std::string &path, std::string &tmpPath)
{
    constexpr int kAttempts = 3;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        tmpPath = path + ".XXXXXX";
        const int fd = mkostemp(tmpPath.data(), O_CLOEXEC);
        if (fd < 0)
            return -1;
        struct stat st {};
        if (flock(fd, LOCK_EX) != 0 || (fstat(fd, &st) == 0 && st.st_nlink > 0))
            return fd;
        close(fd);
    }
    return -1;
}

// The mode of the file being replaced, less write access for others; a new
// file gets 0644.
mode_t SettingsFileMode(const std::string &path)
{
    struct stat old {};
    if (lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) && old.st_uid == geteuid())
        return old.st_mode & 0777 & ~static_cast<mode_t>(S_IWGRP | S_IWOTH);
    return 0644;
}

// Writes the document next to its file and renames it over the old one, so a
// crash or a full disk never leaves a half-written settings file. The rename
// replaces whatever stood at the name (a link included) without touching
// what a link pointed to.
bool SaveAtomically(const TiXmlDocument &doc, const std::string &path)
{
    std::string tmpPath;
    const int fd = CreateLockedTemporary(path, tmpPath);
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, SettingsFileMode(path)) == 0;
    // Its own descriptor keeps the lock until the rename is done.
    const int writeFd = dup(fd);
    FILE *fp = writeFd < 0 ? nullptr : fdopen(writeFd, "w");
    if (fp == nullptr) {
        if (writeFd >= 0)
            close(writeFd);
        ok = false;
    } else {
        ok = doc.SaveFile(fp) && ok;
        ok = fflush(fp) == 0 && ok;
        ok = fsync(fileno(fp)) == 0 && ok;
        ok = fclose(fp) == 0 && ok;
    }
    if (ok)
        ok = rename(tmpPath.c_str(), path.c_str()) == 0;
    if (!ok)
        unlink(tmpPath.c_str());
    close(fd);
    RemoveStaleTemporaries(path);
    return ok;
}

} // namespace

bool initConfigSaveDir(char *path)
{
    std::string home;
    if (!GetHomeDir(home)) {
        DbgPrint(LogSeverity::Error, -1, "initConfigSaveDir", "get home path err\n");
        return false;
    }
    // Checked without a trailing slash, which would make a link count as
    // its target.
    const std::string folder = home + "/.TAV";
    if (!EnsurePrivateFolder(folder.c_str())) {
        DbgPrint(LogSeverity::Error, -1, "initConfigSaveDir", "mkdir err\n");
        return false;
    }
    snprintf(path, kXmlPathSize, "%s/", folder.c_str());
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
    if (!LoadDocument(*doc)) {
        DbgPrint(LogSeverity::Warning, -1, "XMLOpenKey",
                 "Could not load test file %s. Error='%s'. Exiting.\n", path.c_str(),
                 doc->ErrorDesc());
        delete doc;
        return false;
    }
    TiXmlNode *key = doc;
    for (const std::string &component : SplitCleanPath(keyPath)) {
        key = key->FirstChildElement(component.c_str());
        if (key == nullptr) {
            DbgPrint(LogSeverity::Warning, -1, "XMLOpenKey", "find child err\n");
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
    if (!LoadDocument(*doc)) {
        DbgPrint(LogSeverity::Warning, -1, "XMLCreateKey",
                 "Could not load test file %s. Error='%s'. Create new.\n", path.c_str(),
                 doc->ErrorDesc());
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
            DbgPrint(LogSeverity::Warning, -1, "XMLSetValueEx", "content error, remove item\n");
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

bool XMLQueryValueEx(xmlHandle handle, const char *name, int *attr, int *type, unsigned char *data,
                     int *size)
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
        DbgPrint(LogSeverity::Error, -1, "XMLCloseKey", "Reg Save failed\n");
    delete handle->doc;
    handle->doc = nullptr;
    handle->key = nullptr;
}
