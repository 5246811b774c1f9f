#include "core/i18n/TranslationTable.h"

#include <cstdint>
#include <cstdlib>

using namespace dv;

// Parses arbitrary bytes as transl.dt and reads every part of a table it accepts.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    TranslationTable table;
    try {
        table = TranslationTable::Parse(bytes);
    } catch (const TranslationError &) {
        return 0;
    }
    const int columns = table.ColumnCount();
    const int rows = table.RowCount();
    if (columns < 0 || (columns > 0 && rows < 2))
        std::abort();
    for (int c = -1; c <= columns && c < 64; ++c) {
        const QString code = table.Code(c);
        const int found = table.ColumnOfCode(code);
        if (c >= 0 && c < columns && (found < 0 || found > c))
            std::abort();
        for (int r = 0; r < rows && r < 64; ++r) {
            const QString key = table.Cell(0, r);
            const QString text = table.Translate(key, c);
            if (text.isEmpty() && !key.isEmpty())
                std::abort();
        }
        table.Translate(QStringLiteral("Ready"), c);
    }
    table.Cell(columns, rows);
    return 0;
}
