#pragma once

#include <QDialog>

namespace dv {

// The properties of one file: name, type, location, size, and its three times.
class FilePropertiesDialog : public QDialog
{
    Q_OBJECT
public:
    explicit FilePropertiesDialog(const QString &pPath, QWidget *parent = nullptr);
    ~FilePropertiesDialog() override;
};

} // namespace dv
