#pragma once

#include <QString>
#include <QStringView>

#include <cstddef>
#include <vector>

namespace dv {

// A whole-name wildcard mask, prepared once and matched against many names: "*" stands for
// any run of characters, "?" for exactly one, everything else matches itself without regard
// to case. As with the classic DOS masks, a "." followed by "*" may also match the end of the
// name, so "*.*" accepts every name and "report.*" accepts "report" too; a "." alone never
// matches nothing, so "*." does not accept "notes.txt".
class WildcardMask
{
public:
    WildcardMask() = default;
    explicit WildcardMask(QStringView pMask);

    // Matches a name given as the bytes of a file name (decoded as DecodeFileName does).
    bool Matches(const char *pName, std::size_t pLength) const;
    // Matches a name given as text.
    bool Matches(QStringView pName) const;

    const QString &Mask() const { return m_mask; }

private:
    QString m_mask;
    std::vector<char32_t> m_lowered;
    bool m_matchesAll = false; // "*", "*.*" and the like: no name needs to be looked at
};

// The platform wildcard match: the whole name against the mask, as WildcardMask does.
bool PathMatchSpec(QStringView pName, QStringView pMask);

} // namespace dv
