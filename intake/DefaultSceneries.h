#pragma once
// The stock scenery list: names every game installation already has, read once from
// defaults.txt beside the program, and the lookup CheckSc.

#include <QSet>
#include <QString>
#include <array>

class DefaultSceneryTable {
public:
    static constexpr int Capacity = 255;

    // Entries are indexed 1 to 255; the first empty entry ends the list.
    const QString &at(int index) const { return m_entries.at(index - 1); }
    // Number of loaded entries (the index of the last non-empty one).
    int count() const { return m_count; }
    // Appends one non-empty name; false (and nothing stored) when the table is full.
    bool append(const QString &name);
    void clear();
    // True when one of the loaded entries is exactly `name`.
    bool contains(const QString &name) const { return m_index.contains(name); }

private:
    std::array<QString, Capacity> m_entries;
    int m_count = 0;
    QSet<QString> m_index; // the loaded entries, for lookups that do not walk the table
};

struct DefaultsLoadResult {
    bool fileRead = false; // false: missing or unreadable; the table is then empty
    int loaded = 0;        // names stored
    int ignored = 0;       // non-empty lines past the 255th, not stored
    QString warning;       // for the user when fileRead is false or ignored > 0; else empty
};

// The largest stock scenery list read: 1 MiB.
constexpr qint64 MaxDefaultsFileSize = 1 << 20;

// Loads the non-empty lines of `path` into `table` (cleared first). `path` must be a regular
// file of at most MaxDefaultsFileSize bytes, else nothing is loaded and the warning says why.
// Lines end at CR LF or a lone CR; a lone LF stays in the entry. Nothing is trimmed or
// case-folded.
DefaultsLoadResult loadDefaultSceneries(const QString &path, DefaultSceneryTable &table);

// Lower-cases `Name` in place (whatever the result) and tells whether the lower-cased name
// equals one of the table's entries exactly.
bool CheckSc(QString &Name, const DefaultSceneryTable &table);
