#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct _GsfInfile;
struct _GsfInput;

namespace dv::textd {

class ExtractContext;

// A compound file (the container of legacy Office and Outlook documents) read from memory
// through libgsf. Paths name a stream or storage from the root, separated by '/'. Every
// stream read is charged to the context's budget of unpacked bytes, since streams may share
// sectors and so claim more bytes than the file holds.
class CompoundFile
{
public:
    // Throws a Corrupt error when the bytes are not a readable compound file.
    CompoundFile(const QByteArray &data, ExtractContext &context);
    ~CompoundFile();
    CompoundFile(const CompoundFile &) = delete;
    CompoundFile &operator=(const CompoundFile &) = delete;

    bool contains(const QString &path) const;
    // The names directly inside a storage ("" is the root); empty for a stream or none.
    QStringList children(const QString &storage) const;
    // Reads a whole stream; false when there is none of that name.
    bool read(const QString &path, QByteArray &bytes) const;

private:
    _GsfInput *open(const QString &path) const;

    QByteArray m_data;
    ExtractContext &m_context;
    _GsfInfile *m_root = nullptr;
};

} // namespace dv::textd
