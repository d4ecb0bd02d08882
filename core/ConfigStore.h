// The program's settings: narrow key/value text pairs kept in memory and in
// one small text file in the installation folder, with typed accessors.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/kernel/Kernel.h"
#include "platform/kernel/Protected.h"

class CConfigStore {
public:
    // The settings file in the handset's file system.
    static constexpr std::u16string_view kFilePath =
        u"\\Program Files\\CamoraController\\CamoraControllerConfig.ini";
    // The UTF-16 units GetPath may write and the narrow bytes SetPath may use.
    static constexpr int kPathUnits = 260;
    static constexpr int kPathBytes = 260;
    // Bytes read from the file; whatever follows is ignored.
    static constexpr uint32_t kReadLimit = 2048;
    // One saved line ("key=value\r\n" plus the terminator) fits 256 bytes, so
    // key and value together take at most this many bytes.
    static constexpr size_t kMaxPairBytes = 251;

    // The one store of the program, created and loaded on the first call.
    // Throws when its lock cannot be created.
    static CConfigStore* GetInstance();

    // An empty store that is not the program's own (GetInstance makes that
    // one); Load fills it. Throws when the lock cannot be created.
    CConfigStore();
    CConfigStore(const CConfigStore&) = delete;
    CConfigStore& operator=(const CConfigStore&) = delete;

    // Reads the file into the map; sets the three defaults when the file
    // cannot be opened or read. A key already present keeps its value.
    void Load();
    // What Load does with the file's bytes: the pairs of the first
    // kReadLimit of them join the map.
    void LoadBytes(std::string_view bytes);
    // Rewrites the whole file from the map. True when the new file is in
    // place; on failure the old file is left as it was.
    bool Save();
    // The bytes Save writes.
    std::string Contents();
    // Inserts the pair or replaces the value of the key. Refuses (false, map
    // unchanged) a pair that would not fit one saved line.
    bool SetString(const std::string& key, const std::string& value);

    // Seconds of the reply wait (0: no limit) and the GPS send pause. A
    // missing key is added with an empty value and reads as 0.
    uint16_t GetTimeOut();
    uint16_t GetGpsInterval();
    // Writes the picture folder into `buffer` (kPathUnits units, zeroed by the
    // caller) without a terminator; returns the units written. A path that
    // does not convert or fit writes nothing.
    int GetPath(char16_t* buffer);
    // Stores the zero-terminated folder under Path in the ANSI code page.
    // Refuses (false, old value kept) a path whose narrow form would not fit
    // the path buffer or one saved line. Does not save.
    bool SetPath(const char16_t* path);

private:
    // Keys order byte by byte as unsigned bytes, which is what
    // std::char_traits<char> compares.
    using Map = std::map<std::string, std::string>;

    // The value of `key`, added empty when missing.
    std::string Lookup(const std::string& key);
    // The low 16 bits of the value; `noDigits` when its text has no number.
    uint16_t GetNumber(const std::string& key, uint16_t noDigits = 0);
    void SetDefaults();
    bool WriteFile(const std::string& contents);

    platform::Protected<Map> map_;
    std::unique_ptr<platform::Mutex> fileLock_;  // one save at a time
};
