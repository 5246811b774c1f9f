#include "textd/fuzz/FuzzSupport.h"
#include "textd/fuzz/StoredZip.h"

// Mutated zip files rarely get past the checksums, so this target builds a valid stored zip
// around the fuzzer's data: the first byte picks the kind of package, the rest is split at
// record separators (0x1e) into the members that kind reads. The XML walkers then see the
// mutations.
namespace {

const char kTypes[] =
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>";

QByteArray packageRels(const char *target)
{
    return QByteArray("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                      "relationships\"><Relationship Id=\"rId1\" Type=\"http://schemas."
                      "openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
                      "Target=\"") +
           target + "\"/></Relationships>";
}

// The fixed members, then one member per name holding the fuzzer's parts in turn (empty once
// they run out).
dv::textd::ZipMembers withParts(dv::textd::ZipMembers members,
                                std::initializer_list<const char *> names,
                                const QList<QByteArray> &parts)
{
    qsizetype i = 0;
    for (const char *name : names) {
        members.append({name, i < parts.size() ? parts[i] : QByteArray()});
        ++i;
    }
    return members;
}

// An Office Open XML package whose main part is the first name.
dv::textd::ZipMembers officeOpenXml(std::initializer_list<const char *> names,
                                    const QList<QByteArray> &parts)
{
    return withParts(
        {{"[Content_Types].xml", kTypes}, {"_rels/.rels", packageRels(*names.begin())}}, names,
        parts);
}

// A package that names its kind in its first member, as OpenDocument and EPUB do.
dv::textd::ZipMembers withMimetype(const char *mimetype, std::initializer_list<const char *> names,
                                   const QList<QByteArray> &parts)
{
    return withParts({{"mimetype", mimetype}}, names, parts);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int kind = data[0] % 8;
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)).split('\x1e');
    dv::textd::ZipMembers members;
    switch (kind) {
    case 0:
        members = officeOpenXml({"word/document.xml", "word/_rels/document.xml.rels",
                                 "word/header1.xml", "word/footnotes.xml"},
                                parts);
        break;
    case 1:
        members = officeOpenXml({"xl/workbook.xml", "xl/_rels/workbook.xml.rels",
                                 "xl/sharedStrings.xml", "xl/worksheets/sheet1.xml"},
                                parts);
        break;
    case 2:
        members = officeOpenXml({"ppt/presentation.xml", "ppt/_rels/presentation.xml.rels",
                                 "ppt/slides/slide1.xml", "ppt/slides/_rels/slide1.xml.rels",
                                 "ppt/notesSlides/notesSlide1.xml"},
                                parts);
        break;
    case 3:
        members = withMimetype("application/vnd.oasis.opendocument.text",
                               {"content.xml", "styles.xml"}, parts);
        break;
    case 5: // a sheet's comments, drawing and SmartArt
        members = officeOpenXml({"xl/workbook.xml", "xl/_rels/workbook.xml.rels",
                                 "xl/worksheets/sheet1.xml", "xl/worksheets/_rels/sheet1.xml.rels",
                                 "xl/comments1.xml", "xl/threadedComments/threadedComment1.xml",
                                 "xl/drawings/drawing1.xml", "xl/drawings/_rels/drawing1.xml.rels",
                                 "xl/diagrams/data1.xml"},
                                parts);
        break;
    case 6: // a slide's comments and SmartArt, its layout and master
        members = officeOpenXml(
            {"ppt/presentation.xml", "ppt/_rels/presentation.xml.rels", "ppt/slides/slide1.xml",
             "ppt/slides/_rels/slide1.xml.rels", "ppt/slideLayouts/slideLayout1.xml",
             "ppt/slideLayouts/_rels/slideLayout1.xml.rels", "ppt/slideMasters/slideMaster1.xml",
             "ppt/comments/comment1.xml", "ppt/diagrams/data1.xml"},
            parts);
        break;
    case 7: // master pages of a presentation, and the manifest
        members = withMimetype("application/vnd.oasis.opendocument.presentation",
                               {"content.xml", "styles.xml", "META-INF/manifest.xml"}, parts);
        break;
    default:
        members =
            withMimetype("application/epub+zip",
                         {"META-INF/container.xml", "OEBPS/content.opf", "OEBPS/c1.xhtml"}, parts);
        break;
    }
    const QByteArray zip = dv::textd::storedZip(members);
    dv::textd::fuzzOne(reinterpret_cast<const uint8_t *>(zip.constData()), size_t(zip.size()),
                       [](const QByteArray &content, dv::textd::ExtractContext &context) {
                           dv::textd::extractZipDocument(content, context);
                       });
    return 0;
}
