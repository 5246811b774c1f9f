#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"

// GLib names a struct field "signals", which Qt defines as a keyword.
#undef signals
#include <gmime/gmime.h>
#include <memory>
#include <mutex>

namespace dv::textd {

namespace {

struct GObjectUnref
{
    void operator()(gpointer object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template <typename T> using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree
{
    void operator()(gpointer p) const { g_free(p); }
};
using GString = std::unique_ptr<char, GFree>;

void appendLine(const char *label, const char *value, ExtractContext &context)
{
    if (!value || !*value)
        return;
    context.appendUtf8(label, qsizetype(std::strlen(label)));
    context.appendUtf8(value, qsizetype(std::strlen(value)));
    context.lineBreak();
}

void appendAddresses(const char *label, InternetAddressList *list, ExtractContext &context)
{
    if (!list || internet_address_list_length(list) == 0)
        return;
    GString text(internet_address_list_to_string(list, nullptr, FALSE));
    appendLine(label, text.get(), context);
}

QByteArray decodedContent(GMimePart *part)
{
    GMimeDataWrapper *wrapper = g_mime_part_get_content(part);
    if (!wrapper)
        return {};
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new());
    if (g_mime_data_wrapper_write_to_stream(wrapper, stream.get()) < 0)
        return {};
    GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
    if (!bytes)
        return {};
    return QByteArray(reinterpret_cast<const char *>(bytes->data), qsizetype(bytes->len));
}

bool isType(GMimeObject *object, const char *type, const char *subtype)
{
    GMimeContentType *contentType = g_mime_object_get_content_type(object);
    return contentType && g_mime_content_type_is_type(contentType, type, subtype);
}

bool isAttachment(GMimeObject *object)
{
    GMimeContentDisposition *disposition = g_mime_object_get_content_disposition(object);
    return disposition && g_mime_content_disposition_is_attachment(disposition);
}

void walkMessage(GMimeMessage *message, ExtractContext &context, int depth);

void walkObject(GMimeObject *object, ExtractContext &context, int depth)
{
    if (!object)
        return;
    if (depth > context.limits().maxDepth)
        throw ExtractError(ExtractError::Kind::Limit, "MIME parts nested too deeply");
    if (GMIME_IS_MESSAGE_PART(object)) {
        context.paragraphBreak();
        walkMessage(g_mime_message_part_get_message(GMIME_MESSAGE_PART(object)), context,
                    depth + 1);
        return;
    }
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart *multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        if (isType(object, "multipart", "alternative")) {
            // The same text in several forms: the plain one if there is one, else the last.
            GMimeObject *chosen = nullptr;
            for (int i = 0; i < count; ++i) {
                GMimeObject *part = g_mime_multipart_get_part(multipart, i);
                if (part && (!chosen || !isType(chosen, "text", "plain")))
                    chosen = part;
            }
            walkObject(chosen, context, depth + 1);
            return;
        }
        for (int i = 0; i < count; ++i)
            walkObject(g_mime_multipart_get_part(multipart, i), context, depth + 1);
        return;
    }
    if (!GMIME_IS_PART(object))
        return;
    GMimePart *part = GMIME_PART(object);
    context.paragraphBreak();
    if (GMIME_IS_TEXT_PART(object) && !isAttachment(object)) {
        // Decoded from its transfer encoding and converted from its charset to UTF-8.
        GString text(g_mime_text_part_get_text(GMIME_TEXT_PART(object)));
        if (!text)
            return;
        const QByteArray utf8(text.get());
        if (isType(object, "text", "html")) {
            try {
                extractHtml(utf8, context, QByteArrayLiteral("UTF-8"));
            } catch (const ExtractError &error) {
                if (error.kind() == ExtractError::Kind::Limit)
                    throw;
            }
        } else {
            context.appendUtf8(utf8);
        }
        return;
    }
    const char *fileName = g_mime_part_get_filename(part);
    extractEmbedded(decodedContent(part), fileName ? QString::fromUtf8(fileName) : QString(),
                    context);
}

void walkMessage(GMimeMessage *message, ExtractContext &context, int depth)
{
    if (!message)
        return;
    appendLine("Subject: ", g_mime_message_get_subject(message), context);
    appendAddresses("From: ", g_mime_message_get_from(message), context);
    appendAddresses("To: ", g_mime_message_get_to(message), context);
    appendAddresses("Cc: ", g_mime_message_get_cc(message), context);
    context.paragraphBreak();
    walkObject(g_mime_message_get_mime_part(message), context, depth + 1);
}

} // namespace

void extractEml(const QByteArray &content, ExtractContext &context)
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
    GObjectPtr<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(content.constData(), size_t(content.size())));
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    // A message saved from a mailbox, or a whole mailbox, starts with a "From " separator line
    // before each message's headers.
    const bool mailbox = content.startsWith("From ");
    g_mime_parser_set_format(parser.get(), mailbox ? GMIME_FORMAT_MBOX : GMIME_FORMAT_MESSAGE);
    int messages = 0;
    do {
        GObjectPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
        if (!message)
            break;
        context.paragraphBreak();
        walkMessage(message.get(), context, 0);
        ++messages;
    } while (mailbox && !g_mime_parser_eos(parser.get()));
    if (messages == 0)
        throw ExtractError(ExtractError::Kind::Corrupt, "not a mail message");
}

} // namespace dv::textd
