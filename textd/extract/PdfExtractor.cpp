#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"

#include <climits>
#include <memory>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

namespace dv::textd {

namespace {

void quietPoppler(const std::string &, void *) {}

} // namespace

void extractPdf(const QByteArray &content, ExtractContext &context)
{
    if (content.size() > INT_MAX)
        throw ExtractError(ExtractError::Kind::Limit, "PDF too large");
    // Poppler writes every syntax complaint to stderr; broken files are our normal diet.
    poppler::set_debug_error_function(quietPoppler, nullptr);
    std::unique_ptr<poppler::document> document(
        poppler::document::load_from_raw_data(content.constData(), int(content.size())));
    if (!document)
        throw ExtractError(ExtractError::Kind::Corrupt, "not a readable PDF");
    if (document->is_locked())
        throw ExtractError(ExtractError::Kind::Corrupt, "PDF is password-protected");
    const int pages = document->pages();
    for (int i = 0; i < pages; ++i) {
        std::unique_ptr<poppler::page> page(document->create_page(i));
        if (!page)
            continue;
        const std::vector<char> utf8 =
            page->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout).to_utf8();
        context.paragraphBreak();
        // Poppler ends pages with a form feed; the blank line already separates them.
        qsizetype size = qsizetype(utf8.size());
        while (size > 0 && (utf8[size - 1] == '\f' || utf8[size - 1] == '\n' ||
                            utf8[size - 1] == ' ' || utf8[size - 1] == '\r'))
            --size;
        context.appendUtf8(utf8.data(), size);
    }
}

} // namespace dv::textd
