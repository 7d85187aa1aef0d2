#pragma once
// TfrmProperties: "属性" of a remote item, with its permissions as nine
// boxes and the mode they make.

#include "common/Prompt.h"

#include <QDialog>

#include <array>

class QCheckBox;
class QLabel;

class TfrmProperties : public QDialog {
    Q_OBJECT

public:
    explicit TfrmProperties(const IPrompt::PropertiesRequest& shown, QWidget* parent = nullptr);
    int Mode() const;  // from the boxes, e.g. 750
    // Owner read, write, execute, group ..., world ...
    std::array<QCheckBox*, 9> Boxes{};
    QLabel* pnlPriv = nullptr;
};
