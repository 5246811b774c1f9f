#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"

#include <climits>
#include <memory>
#include <new>

extern "C" {
#include <mupdf/fitz.h>
}

namespace dv::textd {

namespace {

// MuPDF reports a failure by a long jump back to its fz_try. The functions that hold an
// fz_try below keep only plain pointers in their frames and run no C++ code inside it, so the
// jump skips no destructor; the C++ side sees only their results.

void quietMuPdf(void *, const char *) {}

struct ContextDeleter
{
    void operator()(fz_context *context) const { fz_drop_context(context); }
};
using ContextPtr = std::unique_ptr<fz_context, ContextDeleter>;

struct DocumentDeleter
{
    fz_context *context;
    void operator()(fz_document *document) const { fz_drop_document(context, document); }
};
using DocumentPtr = std::unique_ptr<fz_document, DocumentDeleter>;

struct BufferDeleter
{
    fz_context *context;
    void operator()(fz_buffer *buffer) const { fz_drop_buffer(context, buffer); }
};
using BufferPtr = std::unique_ptr<fz_buffer, BufferDeleter>;

enum class OpenOutcome
{
    Open,
    Unreadable,
    Locked
};

// The document read from Bytes, with its page count; Unreadable when it has no page at all.
OpenOutcome openDocument(fz_context *context, const unsigned char *bytes, size_t size,
                         fz_document **document, int *pages)
{
    fz_stream *stream = nullptr;
    fz_document *opened = nullptr;
    OpenOutcome outcome = OpenOutcome::Open;
    fz_var(stream);
    fz_var(opened);
    fz_var(outcome);
    fz_try(context)
    {
        stream = fz_open_memory(context, bytes, size);
        opened = fz_open_document_with_stream(context, "application/pdf", stream);
        // Only a document that needs a password to be read is locked; one with an empty user
        // password opens as any other.
        if (fz_needs_password(context, opened) && !fz_authenticate_password(context, opened, ""))
            outcome = OpenOutcome::Locked;
        else
            *pages = fz_count_pages(context, opened);
    }
    fz_always(context)
    {
        fz_drop_stream(context, stream);
    }
    fz_catch(context)
    {
        outcome = OpenOutcome::Unreadable;
    }
    if (outcome == OpenOutcome::Open && *pages <= 0)
        outcome = OpenOutcome::Unreadable;
    if (outcome != OpenOutcome::Open) {
        fz_drop_document(context, opened);
        opened = nullptr;
    }
    *document = opened;
    return outcome;
}

// The text of one page as UTF-8 in reading order, or null when the page cannot be read.
fz_buffer *pageText(fz_context *context, fz_document *document, int index)
{
    fz_page *page = nullptr;
    fz_stext_page *text = nullptr;
    fz_buffer *buffer = nullptr;
    fz_var(page);
    fz_var(text);
    fz_var(buffer);
    fz_try(context)
    {
        page = fz_load_page(context, document, index);
        fz_stext_options options{};
        text = fz_new_stext_page_from_page(context, page, &options);
        buffer = fz_new_buffer_from_stext_page(context, text);
    }
    fz_always(context)
    {
        fz_drop_stext_page(context, text);
        fz_drop_page(context, page);
    }
    fz_catch(context)
    {
        fz_drop_buffer(context, buffer);
        buffer = nullptr;
    }
    return buffer;
}

} // namespace

void extractPdf(const QByteArray &content, ExtractContext &context)
{
    if (content.size() > INT_MAX)
        throw ExtractError(ExtractError::Kind::Limit, "PDF too large");
    const ContextPtr mupdf(fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT));
    if (!mupdf)
        throw std::bad_alloc();
    // MuPDF writes every syntax complaint to stderr; broken files are our normal diet.
    fz_set_warning_callback(mupdf.get(), quietMuPdf, nullptr);
    fz_set_error_callback(mupdf.get(), quietMuPdf, nullptr);
    fz_register_document_handlers(mupdf.get());

    fz_document *opened = nullptr;
    int pages = 0;
    const OpenOutcome outcome =
        openDocument(mupdf.get(), reinterpret_cast<const unsigned char *>(content.constData()),
                     size_t(content.size()), &opened, &pages);
    if (outcome == OpenOutcome::Unreadable)
        throw ExtractError(ExtractError::Kind::Corrupt, "not a readable PDF");
    if (outcome == OpenOutcome::Locked)
        throw ExtractError(ExtractError::Kind::Corrupt, "PDF is password-protected");
    const DocumentPtr document(opened, DocumentDeleter{mupdf.get()});
    for (int i = 0; i < pages; ++i) {
        const BufferPtr text(pageText(mupdf.get(), document.get(), i), BufferDeleter{mupdf.get()});
        if (!text)
            continue;
        unsigned char *data = nullptr;
        const size_t length = fz_buffer_storage(mupdf.get(), text.get(), &data);
        const char *utf8 = reinterpret_cast<const char *>(data);
        context.paragraphBreak();
        // Pages end in line breaks; the blank line already separates them.
        qsizetype size = qsizetype(length);
        while (size > 0 && (utf8[size - 1] == '\f' || utf8[size - 1] == '\n' ||
                            utf8[size - 1] == ' ' || utf8[size - 1] == '\r'))
            --size;
        context.appendUtf8(utf8, size);
    }
}

} // namespace dv::textd
