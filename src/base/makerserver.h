#pragma once

#include <QString>

// The maker's web server: its host (or host:port), fixed at build time and
// overridden at run time by the environment variable MORVANE_MAKER_HOST.
QString makerHost();

// The plain web address of the program's online help:
// "http://" + host + "/help/" + product name in lower case, blanks as "-", + "/".
QString onlineHelpUrl(const QString &productName);

// The maker's home page: "https://" + host + "/".
QString makerHomePage();
