#pragma once

#include <QSet>
#include <QString>
#include <QStringView>

#include <string>
#include <vector>

namespace dv {

// A set of file extensions (with the dot, lower case) asked once per candidate: an ASCII
// extension is looked up without allocating, any other is lower-cased per code point first.
class ExtensionSet
{
public:
    template <typename Range> explicit ExtensionSet(const Range &extensions)
    {
        for (const char *e : extensions) {
            m_ascii.emplace_back(e);
            m_all.insert(QString::fromLatin1(e));
        }
        Sort();
    }

    // Ext (with its dot) is in the set, ignoring case; never for an empty one.
    bool contains(QStringView ext) const;

private:
    void Sort();

    std::vector<std::string> m_ascii; // sorted
    QSet<QString> m_all;
};

} // namespace dv
