#pragma once
// Text helpers of the file lists that the transfer rules and the queue share
// with the panes: sizes with thousands separators, and wildcard masks.

#include <QString>

#include <cstdint>

// Sizes as the panes show them: thousands separators, no decimals.
QString PaneSizeText(int64_t size);
int64_t PaneSizeValue(const QString& text);

// Wildcards: "*" any run, "?" one character, "[...]" a set; without regard
// to case unless cs says otherwise; "*.*" matches every name (also names
// without a dot).
bool MaskMatch(const QString& name, const QString& mask, Qt::CaseSensitivity cs = Qt::CaseInsensitive);
