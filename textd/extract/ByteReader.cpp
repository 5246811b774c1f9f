#include "textd/extract/ByteReader.h"

#include "textd/extract/ExtractError.h"

namespace dv::textd {

void ByteReader::check(qsizetype offset, qsizetype length) const
{
    if (!has(offset, length))
        throw ExtractError(ExtractError::Kind::Corrupt, "record runs past the end of its stream");
}

} // namespace dv::textd
