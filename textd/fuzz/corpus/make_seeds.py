#!/usr/bin/env python3
"""Builds the seed corpora from the extraction test fixtures. Run from this folder."""
import os
import shutil
import struct
import sys
import zipfile

FIXTURES = "../../../tests/textd/extract/fixtures"
sys.path.insert(0, FIXTURES)
import compound_file  # noqa: E402


def seed(target, name, data):
    os.makedirs(target, exist_ok=True)
    with open(os.path.join(target, name), "wb") as f:
        f.write(data)


def fixture(name):
    with open(os.path.join(FIXTURES, name), "rb") as f:
        return f.read()


def members(name, wanted):
    with zipfile.ZipFile(os.path.join(FIXTURES, name)) as z:
        return b"\x1e".join(z.read(m) if m in z.namelist() else b"" for m in wanted)


text = "Grüße – 日本\nsecond line\n"
seed("fuzz_text", "utf8.txt", text.encode())
seed("fuzz_text", "utf16le-bom.txt", b"\xff\xfe" + text.encode("utf-16-le"))
seed("fuzz_text", "utf16be.txt", text.encode("utf-16-be"))
seed("fuzz_text", "cp1252.txt", "Café crème à la française, déjà vu.\n".encode("cp1252"))
for name in ("sample.pdf", "encrypted.pdf"):
    seed("fuzz_pdf", name, fixture(name))
seed("fuzz_rtf", "sample.rtf", fixture("sample.rtf"))
seed("fuzz_html", "sample.html", fixture("sample.html"))
seed("fuzz_html", "fragment.html", b"<p>a<b>b<i>c</b>d</i><pre> x </pre><table><td>1<td>2</table>")
seed("fuzz_xml", "doctype.xml",
     b'<?xml version="1.0"?><!DOCTYPE r [<!ENTITY a "x">]><r>t &a; <![CDATA[c]]><s>u</s>\n</r>')
seed("fuzz_eml", "sample.eml", fixture("sample.eml"))
for name in ("sample.docx", "sample.xlsx", "sample.pptx", "sample.odt", "sample.epub"):
    seed("fuzz_zip", name, fixture(name))
seed("fuzz_package", "docx", b"\x00" + members("sample.docx", [
    "word/document.xml", "word/_rels/document.xml.rels", "word/header1.xml", "word/footnotes.xml"]))
seed("fuzz_package", "xlsx", b"\x01" + members("sample.xlsx", [
    "xl/workbook.xml", "xl/_rels/workbook.xml.rels", "xl/sharedStrings.xml",
    "xl/worksheets/sheet1.xml"]))
seed("fuzz_package", "pptx", b"\x02" + members("sample.pptx", [
    "ppt/presentation.xml", "ppt/_rels/presentation.xml.rels", "ppt/slides/slide2.xml",
    "ppt/slides/_rels/slide2.xml.rels", "ppt/notesSlides/notesSlide1.xml"]).replace(
        b"slides/slide2.xml", b"slides/slide1.xml"))
seed("fuzz_package", "odt", b"\x03" + members("sample.odt", ["content.xml"]))
seed("fuzz_package", "epub", b"\x04" + members("sample.epub", [
    "META-INF/container.xml", "OEBPS/content.opf", "OEBPS/text/b.xhtml"]).replace(
        b"text/b.xhtml", b"c1.xhtml").replace(b"text/chapter%201.xhtml", b"c2.xhtml"))
for selector, name in enumerate(("sample.rtf", "sample.html", "sample.eml", "sample.odp")):
    seed("fuzz_document", name, bytes([selector + 1]) + fixture(name))
seed("fuzz_document", "readme", bytes([6]) + b"Plain notes without a name.\n")

# The parts beside the main text: comments, drawings, SmartArt, layouts, masters.
R = 'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"'
A = 'xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"'
P = 'xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main"'
DGM = 'xmlns:dgm="http://schemas.openxmlformats.org/drawingml/2006/diagram"'


def rels(*entries):
    body = "".join(f'<Relationship Id="{i}" Type="{t}" Target="{target}"/>' for i, t, target in entries)
    return ('<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            + body + "</Relationships>")


def rel(name):
    return "http://schemas.openxmlformats.org/officeDocument/2006/relationships/" + name


diagram_ref = (f'<a:graphic {A}><a:graphicData><dgm:relIds {DGM} {R} r:dm="rId9" r:lo="rId8"/>'
               '</a:graphicData></a:graphic>')
diagram_data = (f'<dgm:dataModel {DGM} {A}><dgm:ptLst><dgm:pt modelId="1"><dgm:t><a:bodyPr/>'
                '<a:p><a:r><a:t>Step one</a:t></a:r></a:p></dgm:t></dgm:pt></dgm:ptLst>'
                '</dgm:dataModel>')
S = f'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" {R}'
seed("fuzz_package", "xlsx-parts", b"\x05" + "\x1e".join([
    f'<workbook {S}><sheets><sheet name="Dues" r:id="rId1"/></sheets></workbook>',
    rels(("rId1", rel("worksheet"), "worksheets/sheet1.xml")),
    f'<worksheet {S}><sheetData><row><c t="inlineStr"><is><t>Cell</t></is></c></row></sheetData>'
    '<headerFooter><oddHeader>&amp;L&amp;"Arial,Bold"&amp;14Left &amp;&amp; more&amp;C&amp;P'
    '&amp;K01+033&amp;RRight</oddHeader><oddFooter>&amp;CFoot</oddFooter></headerFooter>'
    '<drawing r:id="rId3"/></worksheet>',
    rels(("rId1", rel("comments"), "../comments1.xml"),
         ("rId2", "http://schemas.microsoft.com/office/2017/10/relationships/threadedComment",
          "../threadedComments/threadedComment1.xml"),
         ("rId3", rel("drawing"), "../drawings/drawing1.xml")),
    f'<comments {S}><commentList><comment ref="A1"><text><r><t>Old copy</t></r></text></comment>'
    '<comment ref="B1"><text><r><rPr><b/></rPr><t>Note</t></r></text></comment></commentList>'
    '</comments>',
    '<ThreadedComments><threadedComment ref="A1"><text>Thread</text></threadedComment>'
    '</ThreadedComments>',
    f'<xdr:wsDr xmlns:xdr="http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing" {A}>'
    '<xdr:twoCellAnchor><xdr:sp><xdr:txBody><a:p><a:r><a:t>Box</a:t></a:r></a:p></xdr:txBody>'
    f'</xdr:sp></xdr:twoCellAnchor><xdr:graphicFrame>{diagram_ref}</xdr:graphicFrame></xdr:wsDr>',
    rels(("rId9", rel("diagramData"), "../diagrams/data1.xml")),
    diagram_data]).encode())


def shape(text, ph=""):
    placeholder = f"<p:ph {ph}/>" if ph else ""
    return (f'<p:sp><p:nvSpPr><p:nvPr>{placeholder}</p:nvPr></p:nvSpPr><p:txBody><a:p><a:r>'
            f'<a:t>{text}</a:t></a:r></a:p></p:txBody></p:sp>')


def slide_part(root, shapes):
    return f'<p:{root} {P} {A} {R}><p:cSld><p:spTree>{shapes}</p:spTree></p:cSld></p:{root}>'


seed("fuzz_package", "pptx-design", b"\x06" + "\x1e".join([
    f'<p:presentation {P} {R}><p:sldIdLst><p:sldId id="256" r:id="rId1"/></p:sldIdLst>'
    '</p:presentation>',
    rels(("rId1", rel("slide"), "slides/slide1.xml")),
    slide_part("sld", shape("Title", 'type="title"')
               + f"<p:graphicFrame>{diagram_ref}</p:graphicFrame>"),
    rels(("rId1", rel("slideLayout"), "../slideLayouts/slideLayout1.xml"),
         ("rId2", rel("comments"), "../comments/comment1.xml"),
         ("rId9", rel("diagramData"), "../diagrams/data1.xml")),
    slide_part("sldLayout", shape("Click to edit", 'type="title"') + shape("Banner")),
    rels(("rId1", rel("slideMaster"), "../slideMasters/slideMaster1.xml")),
    slide_part("sldMaster", "<p:grpSp>" + shape("Logo") + "</p:grpSp>"
               + "<p:graphicFrame><p:nvGraphicFramePr><p:nvPr><p:ph/></p:nvPr>"
               "</p:nvGraphicFramePr></p:graphicFrame>"),
    f'<p:cmLst {P}><p:cm><p:pos x="1" y="1"/><p:text>Remark</p:text></p:cm></p:cmLst>',
    diagram_data]).encode())

O = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
     'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
     'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
     'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
     'xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0" '
     'xmlns:dc="http://purl.org/dc/elements/1.1/" '
     'xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0"')
seed("fuzz_package", "odp-masters", b"\x07" + "\x1e".join([
    f'<office:document-content {O}><office:body><office:presentation>'
    '<draw:page draw:master-page-name="M"><draw:frame><draw:text-box><text:p>Slide'
    '<office:annotation><dc:creator>A</dc:creator><text:p>Note</text:p></office:annotation>'
    '</text:p></draw:text-box></draw:frame></draw:page></office:presentation></office:body>'
    '</office:document-content>',
    f'<office:document-styles {O}><office:master-styles><style:handout-master/>'
    '<style:master-page style:name="M"><draw:frame presentation:class="title"><draw:text-box>'
    '<text:p>Prompt</text:p></draw:text-box></draw:frame><draw:frame><draw:text-box><text:p>'
    'Banner <text:page-number>1</text:page-number></text:p></draw:text-box></draw:frame>'
    '<style:footer style:display="false"/><presentation:notes/></style:master-page>'
    '</office:master-styles></office:document-styles>',
    f'<manifest:manifest {O}><manifest:file-entry manifest:full-path="content.xml">'
    '</manifest:file-entry></manifest:manifest>']).encode())

seed("fuzz_rtf", "annotation.rtf",
     rb"{\rtf1\ansi Tide {\*\atnid K}{\*\atnauthor Keeper}\chatn{\*\annotation{\*\atnref 1}"
     rb"\pard Check \u8364? gauge}tables\par}")
seed("fuzz_html", "utf16-label.html",
     b'<html><head><meta http-equiv="Content-Type" content="text/html; charset=utf-16">'
     b"</head><body><p>Gr\xc3\xbc\xc3\x9fe</p></body></html>")
seed("fuzz_html", "nul.html", b"<html><body><p>Fo\x00g horn</p>\x00<p>x</p></body></html>")
mbox = (b"From keeper@x.invalid Mon Jan  5 10:00:00 2026\nFrom: a@b.invalid\nTo: c@d.invalid\n"
        b"Subject: One\n\nFirst body\n\nFrom keeper@x.invalid Mon Jan  5 11:00:00 2026\n"
        b"From: c@d.invalid\nSubject: Two\nContent-Type: text/html\n\n<p>Second</p>\n")
seed("fuzz_eml", "mailbox", mbox)
seed("fuzz_document", "mailbox", bytes([0]) + mbox)
seed("fuzz_document", "nul.html", bytes([2]) + b"\x00\x00<p>Lamp\x00 room</p>")

for name in ("sample.doc", "pieces.doc", "sample.xls", "excel5.xls", "sample.ppt", "sample.msg",
             "rtf-body.msg", "html-body.msg", "directory-loop.doc", "sector-loop.doc"):
    seed("fuzz_cfb", name, fixture(name))
for name in ("sample.doc", "pieces.doc"):
    streams = compound_file.read_root_streams(fixture(name))
    table = streams.get("1Table", streams.get("0Table", b""))
    seed("fuzz_doc", name, streams["WordDocument"] + b"\n#\n" + table)
for name in ("sample.xls", "excel5.xls", "encrypted.xls"):
    streams = compound_file.read_root_streams(fixture(name))
    seed("fuzz_xls", name, streams.get("Workbook", streams.get("Book")))
for name in ("sample.ppt", "slide-list.ppt"):
    streams = compound_file.read_root_streams(fixture(name))
    seed("fuzz_ppt", name, streams["PowerPoint Document"] + b"\n#\n" + streams["Current User"])
for index, (value, code) in enumerate([
        (1599.99, "#,##0.00"), (39219.75, "dddd, mmmm d, yyyy h:mm AM/PM"), (0.025, "0.00%"),
        (1.5, "# ?/?"), (-1234.5, '_("$"* #,##0.00_);_("$"* \\(#,##0.00\\);_("$"* "-"??_);_(@_)'),
        (12345, "##0.0E+0"), (1.5, "[h]:mm:ss.00"), (50, '[<100][Red]"low";[Blue]"high"')]):
    seed("fuzz_numfmt", "format%d" % index, struct.pack("<d", value) + code.encode())
