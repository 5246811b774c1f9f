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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int kind = data[0] % 8;
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)).split('\x1e');
    const auto part = [&](int i) { return i < parts.size() ? parts[i] : QByteArray(); };
    dv::textd::ZipMembers members;
    switch (kind) {
    case 0:
        members = {
            {"[Content_Types].xml", kTypes}, {"_rels/.rels", packageRels("word/document.xml")},
            {"word/document.xml", part(0)},  {"word/_rels/document.xml.rels", part(1)},
            {"word/header1.xml", part(2)},   {"word/footnotes.xml", part(3)}};
        break;
    case 1:
        members = {
            {"[Content_Types].xml", kTypes},   {"_rels/.rels", packageRels("xl/workbook.xml")},
            {"xl/workbook.xml", part(0)},      {"xl/_rels/workbook.xml.rels", part(1)},
            {"xl/sharedStrings.xml", part(2)}, {"xl/worksheets/sheet1.xml", part(3)}};
        break;
    case 2:
        members = {{"[Content_Types].xml", kTypes},
                   {"_rels/.rels", packageRels("ppt/presentation.xml")},
                   {"ppt/presentation.xml", part(0)},
                   {"ppt/_rels/presentation.xml.rels", part(1)},
                   {"ppt/slides/slide1.xml", part(2)},
                   {"ppt/slides/_rels/slide1.xml.rels", part(3)},
                   {"ppt/notesSlides/notesSlide1.xml", part(4)}};
        break;
    case 3:
        members = {{"mimetype", "application/vnd.oasis.opendocument.text"},
                   {"content.xml", part(0)},
                   {"styles.xml", part(1)}};
        break;
    case 5: // a sheet's comments, drawing and SmartArt
        members = {{"[Content_Types].xml", kTypes},
                   {"_rels/.rels", packageRels("xl/workbook.xml")},
                   {"xl/workbook.xml", part(0)},
                   {"xl/_rels/workbook.xml.rels", part(1)},
                   {"xl/worksheets/sheet1.xml", part(2)},
                   {"xl/worksheets/_rels/sheet1.xml.rels", part(3)},
                   {"xl/comments1.xml", part(4)},
                   {"xl/threadedComments/threadedComment1.xml", part(5)},
                   {"xl/drawings/drawing1.xml", part(6)},
                   {"xl/drawings/_rels/drawing1.xml.rels", part(7)},
                   {"xl/diagrams/data1.xml", part(8)}};
        break;
    case 6: // a slide's comments and SmartArt, its layout and master
        members = {{"[Content_Types].xml", kTypes},
                   {"_rels/.rels", packageRels("ppt/presentation.xml")},
                   {"ppt/presentation.xml", part(0)},
                   {"ppt/_rels/presentation.xml.rels", part(1)},
                   {"ppt/slides/slide1.xml", part(2)},
                   {"ppt/slides/_rels/slide1.xml.rels", part(3)},
                   {"ppt/slideLayouts/slideLayout1.xml", part(4)},
                   {"ppt/slideLayouts/_rels/slideLayout1.xml.rels", part(5)},
                   {"ppt/slideMasters/slideMaster1.xml", part(6)},
                   {"ppt/comments/comment1.xml", part(7)},
                   {"ppt/diagrams/data1.xml", part(8)}};
        break;
    case 7: // master pages of a presentation, and the manifest
        members = {{"mimetype", "application/vnd.oasis.opendocument.presentation"},
                   {"content.xml", part(0)},
                   {"styles.xml", part(1)},
                   {"META-INF/manifest.xml", part(2)}};
        break;
    default:
        members = {{"mimetype", "application/epub+zip"},
                   {"META-INF/container.xml", part(0)},
                   {"OEBPS/content.opf", part(1)},
                   {"OEBPS/c1.xhtml", part(2)}};
        break;
    }
    const QByteArray zip = dv::textd::storedZip(members);
    dv::textd::fuzzOne(reinterpret_cast<const uint8_t *>(zip.constData()), size_t(zip.size()),
                       [](const QByteArray &content, dv::textd::ExtractContext &context) {
                           dv::textd::extractZipDocument(content, context);
                       });
    return 0;
}
