#pragma once

#include <QDialog>

namespace dv {

// The properties of one file: name, type, location, size, and its three times.
class TDvFilePropertiesDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TDvFilePropertiesDialog(const QString &pPath, QWidget *parent = nullptr);
    ~TDvFilePropertiesDialog() override;
};

} // namespace dv
