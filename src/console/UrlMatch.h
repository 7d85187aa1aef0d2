#pragma once
#include <QString>

// True when word is a web, FTP, news, e-mail or IPv4 address as the log
// console recognises them.
bool IsConsoleAddress(const QString& word);
