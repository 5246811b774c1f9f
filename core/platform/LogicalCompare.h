#pragma once

#include <QStringView>

namespace dv {

// Orders names the way a person reads them: runs of digits compare by their value, a digit
// sorts before any other character, other characters compare one by one without regard to
// case, and a name that is a prefix of another sorts first ("file9.txt" before "file10.txt").
// Returns a negative number, 0 or a positive number.
int CompareLogical(QStringView pLeft, QStringView pRight);

} // namespace dv
