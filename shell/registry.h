#pragma once

#include "shell/bytes.h"
#include "shell/result.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace chwr {

// The two predefined roots the program reads and writes.
enum class RegistryRoot { CurrentUser, LocalMachine };

// The registry's own type numbers; any other number found in a file is kept as it is.
enum class RegistryValueType : std::uint32_t {
    None = 0,         // REG_NONE
    String = 1,       // REG_SZ
    ExpandString = 2, // REG_EXPAND_SZ
    Binary = 3,       // REG_BINARY
    Number32 = 4,     // REG_DWORD, little-endian
    MultiString = 7,  // REG_MULTI_SZ
    Number64 = 11,    // REG_QWORD, little-endian
};

// A value as the registry holds it: its type and its raw bytes. A string's bytes
// carry no terminating 0 unless whoever stored it put one there.
struct RegistryValue {
    RegistryValueType type = RegistryValueType::String;
    Bytes data;

    friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

// An open key. Destroying it closes it.
class RegistryKey {
public:
    virtual ~RegistryKey() = default;
    // The named value; the empty name is the key's default value ("@" in a .reg file).
    virtual Result<RegistryValue> queryValue(std::string_view name) = 0;
    virtual Result<void> setValue(std::string_view name, const RegistryValue& value) = 0;
};

// Opens and creates keys under the two roots. Key paths are separated by backslashes;
// key and value names compare without regard to ASCII case, as in the Windows registry.
class Registry {
public:
    virtual ~Registry() = default;
    // Fails when the key does not exist.
    virtual Result<std::unique_ptr<RegistryKey>> openKey(RegistryRoot root, std::string_view subKey) = 0;
    // Opens the key, creating it and any missing parent first.
    virtual Result<std::unique_ptr<RegistryKey>> createKey(RegistryRoot root, std::string_view subKey) = 0;
};

// "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE".
std::string_view registryRootName(RegistryRoot root);

// One key of a .reg file: its full path, root name first, and its values in file order.
// Comment lines travel with the key or value that follows them.
struct RegistryFileValue {
    std::string name;
    RegistryValue value;
    std::vector<std::string> comments;
};
struct RegistryFileKey {
    std::string path; // "HKEY_LOCAL_MACHINE\SOFTWARE\Brindlewood\CHWR\1.0"
    std::vector<RegistryFileValue> values;
    std::vector<std::string> comments;
};
struct RegistryFileContents {
    // In file order. Keys are added through addKey(), which keeps the index below.
    std::vector<RegistryFileKey> keys;
    std::vector<std::string> trailingComments;

    // The key with this full path, compared without case; nullptr when absent.
    RegistryFileKey* findKey(std::string_view fullPath);
    const RegistryFileKey* findKey(std::string_view fullPath) const;
    // True when the key or any key below it is present, as a parent exists in the registry.
    bool hasKey(std::string_view fullPath) const;
    // The key, added at the end when absent. Adding a key may move the others, so a
    // reference returned earlier is not kept across calls.
    RegistryFileKey& addKey(std::string_view fullPath);

private:
    // Orders paths as the registry compares them: without regard to ASCII case.
    struct NoCaseLess {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    // Makes the index again when keys has changed other than through addKey().
    void updateIndex(bool always = false) const;
    // Each key's place in keys by its path, so that a file of many keys is read and
    // searched without a pass over all keys for each one.
    mutable std::map<std::string, std::size_t, NoCaseLess> m_index;
    mutable std::size_t m_indexedKeys = 0;
};

// The full path of a key as written in a .reg file, or an error for an empty sub-key.
Result<std::string> registryKeyPath(RegistryRoot root, std::string_view subKey);

// A registry kept in memory: the scripted registry of tests, and the working copy of
// the file-backed one.
class MemoryRegistry : public Registry {
public:
    MemoryRegistry() = default;
    explicit MemoryRegistry(RegistryFileContents contents) : m_contents(std::move(contents)) {}

    Result<std::unique_ptr<RegistryKey>> openKey(RegistryRoot root, std::string_view subKey) override;
    Result<std::unique_ptr<RegistryKey>> createKey(RegistryRoot root, std::string_view subKey) override;

    const RegistryFileContents& contents() const { return m_contents; }
    // Makes every create and set fail with this message, as a registry the user may
    // not write; an empty message lets writes through again.
    void refuseWrites(std::string message) { m_refusal = std::move(message); }

private:
    RegistryFileContents m_contents;
    std::string m_refusal;
};

// The registry of this user: one file in the Windows .reg text format, which a person
// can read, edit, and fill by importing a .reg export from Windows.
//
// Every operation reads the file afresh and every change rewrites it atomically. A
// file that cannot be understood reads as holding no values; before such a file is
// replaced, its bytes are kept beside it as NAME.damaged (or NAME.damaged-2, ...).
class RegistryFile : public Registry {
public:
    explicit RegistryFile(std::filesystem::path file) : m_file(std::move(file)) {}

    Result<std::unique_ptr<RegistryKey>> openKey(RegistryRoot root, std::string_view subKey) override;
    Result<std::unique_ptr<RegistryKey>> createKey(RegistryRoot root, std::string_view subKey) override;

    const std::filesystem::path& file() const { return m_file; }

    // What was wrong with the file at the last read, one line each ("line 7: ...");
    // empty when it read cleanly or did not exist.
    const std::vector<std::string>& problems() const { return m_problems; }

    struct Loaded {
        RegistryFileContents contents;
        Bytes original; // the file's bytes, empty when it did not exist
        bool damaged = false;
    };
    // Reads and parses the file. A missing file is an empty registry; a file that
    // exists but cannot be read is an error, so that it is never written over.
    Result<Loaded> load();
    // Writes the contents in place of the file, keeping a copy first when the file that
    // was loaded was damaged.
    Result<void> store(const Loaded& loaded, const RegistryFileContents& contents);

private:
    std::filesystem::path m_file;
    std::vector<std::string> m_problems;
};

// Where this user's registry file is: CHIMEWRIGHT_REGISTRY when set, otherwise
// $XDG_CONFIG_HOME/chimewright/registry.reg, falling back to ~/.config/chimewright.
std::filesystem::path registryFilePath();

// The registry of this user, over registryFilePath().
std::unique_ptr<Registry> makeUserRegistry();

} // namespace chwr
