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
