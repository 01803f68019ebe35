#include "shell/registry.h"

#include "shell/file_io.h"
#include "shell/reg_file_format.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace chwr {
namespace fs = std::filesystem;

namespace {

// A damaged settings file is kept under its name plus this suffix (and a number).
constexpr std::string_view kDamagedSuffix = ".damaged";
// How many numbered copies of damaged files are tried before giving up.
constexpr int kMaxDamagedCopies = 100;

char asciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return asciiUpper(x) == asciiUpper(y); });
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string describeValue(std::string_view name)
{
    return name.empty() ? std::string("default value") : "value \"" + std::string(name) + "\"";
}

Result<RegistryValue> queryIn(const RegistryFileContents& contents, const std::string& keyPath,
                              std::string_view name)
{
    if (const RegistryFileKey* key = contents.findKey(keyPath)) {
        for (const RegistryFileValue& value : key->values)
            if (equalsNoCase(value.name, name))
                return value.value;
    }
    return Error{"The key \"" + keyPath + "\" has no " + describeValue(name)};
}

void setIn(RegistryFileContents& contents, const std::string& keyPath, std::string_view name,
           const RegistryValue& value)
{
    RegistryFileKey& key = contents.addKey(keyPath);
    for (RegistryFileValue& existing : key.values) {
        if (equalsNoCase(existing.name, name)) {
            existing.value = value;
            return;
        }
    }
    key.values.push_back({std::string(name), value, {}});
}

Error noSuchKey(const std::string& keyPath)
{
    return Error{"There is no key \"" + keyPath + "\""};
}

class MemoryRegistryKey : public RegistryKey {
public:
    MemoryRegistryKey(RegistryFileContents& contents, const std::string& refusal, std::string path)
        : m_contents(contents), m_refusal(refusal), m_path(std::move(path))
    {
    }
    Result<RegistryValue> queryValue(std::string_view name) override
    {
        return queryIn(m_contents, m_path, name);
    }
    Result<void> setValue(std::string_view name, const RegistryValue& value) override
    {
        if (!m_refusal.empty())
            return Error{m_refusal};
        setIn(m_contents, m_path, name, value);
        return {};
    }

private:
    RegistryFileContents& m_contents;
    const std::string& m_refusal;
    std::string m_path;
};

class RegistryFileKeyHandle : public RegistryKey {
public:
    RegistryFileKeyHandle(RegistryFile& registry, std::string path)
        : m_registry(registry), m_path(std::move(path))
    {
    }

    Result<RegistryValue> queryValue(std::string_view name) override
    {
        auto loaded = m_registry.load();
        if (!loaded)
            return Error{loaded.error()};
        return queryIn(loaded->contents, m_path, name);
    }

    Result<void> setValue(std::string_view name, const RegistryValue& value) override
    {
        auto loaded = m_registry.load();
        if (!loaded)
            return Error{loaded.error()};
        RegistryFileContents contents = loaded->contents;
        setIn(contents, m_path, name, value);
        return m_registry.store(*loaded, contents);
    }

private:
    RegistryFile& m_registry;
    std::string m_path;
};

fs::path fromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? fs::path(value) : fs::path();
}

} // namespace

std::string_view registryRootName(RegistryRoot root)
{
    return root == RegistryRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

Result<std::string> registryKeyPath(RegistryRoot root, std::string_view subKey)
{
    std::string path(registryRootName(root));
    bool any = false;
    std::size_t start = 0;
    while (start <= subKey.size()) {
        std::size_t end = subKey.find('\\', start);
        std::string_view part = subKey.substr(start, end == std::string_view::npos ? end : end - start);
        if (!part.empty()) {
            path += '\\';
            path += part;
            any = true;
        }
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    if (!any)
        return Error{"A registry key needs a path below " + std::string(registryRootName(root))};
    return path;
}

bool RegistryFileContents::NoCaseLess::operator()(std::string_view a, std::string_view b) const
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return asciiUpper(x) < asciiUpper(y); });
}

void RegistryFileContents::updateIndex(bool always) const
{
    if (!always && m_indexedKeys == keys.size())
        return;
    // Of two keys that differ only in case, the first is the one found.
    m_index.clear();
    for (std::size_t i = 0; i < keys.size(); ++i)
        m_index.emplace(keys[i].path, i);
    m_indexedKeys = keys.size();
}

RegistryFileKey* RegistryFileContents::findKey(std::string_view fullPath)
{
    updateIndex();
    auto found = m_index.find(fullPath);
    if (found == m_index.end())
        return nullptr;
    if (found->second < keys.size() && equalsNoCase(keys[found->second].path, fullPath))
        return &keys[found->second];
    // A key was changed or replaced in the list: index it afresh.
    updateIndex(true);
    found = m_index.find(fullPath);
    return found == m_index.end() ? nullptr : &keys[found->second];
}

const RegistryFileKey* RegistryFileContents::findKey(std::string_view fullPath) const
{
    return const_cast<RegistryFileContents*>(this)->findKey(fullPath);
}

bool RegistryFileContents::hasKey(std::string_view fullPath) const
{
    if (findKey(fullPath))
        return true;
    // The keys below it are the paths that start with "PATH\"; in this order they begin
    // at the first path not less than that.
    const std::string parent = std::string(fullPath) + '\\';
    auto below = m_index.lower_bound(parent);
    return below != m_index.end() && startsWithNoCase(below->first, parent);
}

RegistryFileKey& RegistryFileContents::addKey(std::string_view fullPath)
{
    if (RegistryFileKey* key = findKey(fullPath))
        return *key;
    keys.push_back({std::string(fullPath), {}, {}});
    m_index.emplace(keys.back().path, keys.size() - 1);
    m_indexedKeys = keys.size();
    return keys.back();
}

Result<std::unique_ptr<RegistryKey>> MemoryRegistry::openKey(RegistryRoot root, std::string_view subKey)
{
    auto path = registryKeyPath(root, subKey);
    if (!path)
        return Error{path.error()};
    if (!m_contents.hasKey(*path))
        return noSuchKey(*path);
    return std::unique_ptr<RegistryKey>(std::make_unique<MemoryRegistryKey>(m_contents, m_refusal, *path));
}

Result<std::unique_ptr<RegistryKey>> MemoryRegistry::createKey(RegistryRoot root, std::string_view subKey)
{
    auto path = registryKeyPath(root, subKey);
    if (!path)
        return Error{path.error()};
    if (!m_contents.hasKey(*path)) {
        if (!m_refusal.empty())
            return Error{m_refusal};
        m_contents.addKey(*path);
    }
    return std::unique_ptr<RegistryKey>(std::make_unique<MemoryRegistryKey>(m_contents, m_refusal, *path));
}

Result<RegistryFile::Loaded> RegistryFile::load()
{
    m_problems.clear();
    Loaded loaded;
    std::error_code error;
    bool exists = fs::exists(m_file, error);
    if (error)
        return Error{"Cannot look for the settings file \"" + m_file.string() + "\": " + error.message()};
    if (!exists)
        return loaded;
    auto bytes = readFileBytes(m_file);
    if (!bytes)
        return Error{bytes.error()};
    RegFileParse parsed = parseRegFile(*bytes);
    loaded.contents = std::move(parsed.contents);
    loaded.original = std::move(*bytes);
    loaded.damaged = !parsed.problems.empty();
    m_problems = std::move(parsed.problems);
    return loaded;
}

Result<void> RegistryFile::store(const Loaded& loaded, const RegistryFileContents& contents)
{
    if (loaded.damaged) {
        fs::path copy;
        for (int n = 1; n <= kMaxDamagedCopies && copy.empty(); ++n) {
            fs::path candidate = m_file;
            candidate += std::string(kDamagedSuffix) + (n == 1 ? "" : "-" + std::to_string(n));
            std::error_code error;
            if (!fs::exists(candidate, error) && !error)
                copy = candidate;
        }
        if (copy.empty())
            return Error{"The settings file \"" + m_file.string() +
                         "\" is damaged and there is no free name to keep a copy of it; it was not changed"};
        if (auto kept = writeFileAtomic(copy, loaded.original); !kept)
            return Error{
                "The settings file \"" + m_file.string() +
                "\" is damaged and a copy of it could not be kept, so it was not changed: " + kept.error()};
    }
    std::error_code error;
    if (m_file.has_parent_path())
        fs::create_directories(m_file.parent_path(), error);
    if (error)
        return Error{"Cannot create the folder of the settings file \"" + m_file.string() +
                     "\": " + error.message()};
    return writeFileAtomic(m_file, formatRegFile(contents));
}

Result<std::unique_ptr<RegistryKey>> RegistryFile::openKey(RegistryRoot root, std::string_view subKey)
{
    auto path = registryKeyPath(root, subKey);
    if (!path)
        return Error{path.error()};
    auto loaded = load();
    if (!loaded)
        return Error{loaded.error()};
    if (!loaded->contents.hasKey(*path))
        return noSuchKey(*path);
    return std::unique_ptr<RegistryKey>(std::make_unique<RegistryFileKeyHandle>(*this, *path));
}

Result<std::unique_ptr<RegistryKey>> RegistryFile::createKey(RegistryRoot root, std::string_view subKey)
{
    auto path = registryKeyPath(root, subKey);
    if (!path)
        return Error{path.error()};
    auto loaded = load();
    if (!loaded)
        return Error{loaded.error()};
    if (!loaded->contents.hasKey(*path)) {
        RegistryFileContents contents = loaded->contents;
        contents.addKey(*path);
        if (auto stored = store(*loaded, contents); !stored)
            return Error{stored.error()};
    }
    return std::unique_ptr<RegistryKey>(std::make_unique<RegistryFileKeyHandle>(*this, *path));
}

fs::path registryFilePath()
{
    if (fs::path file = fromEnvironment("CHIMEWRIGHT_REGISTRY"); !file.empty())
        return file;
    if (fs::path config = fromEnvironment("XDG_CONFIG_HOME"); config.is_absolute())
        return config / "chimewright" / "registry.reg";
    if (fs::path home = fromEnvironment("HOME"); !home.empty())
        return home / ".config" / "chimewright" / "registry.reg";
    return fs::temp_directory_path() / "chimewright" / "registry.reg";
}

std::unique_ptr<Registry> makeUserRegistry()
{
    return std::make_unique<RegistryFile>(registryFilePath());
}

} // namespace chwr
