#pragma once

#include <QString>

// The maker's web server: its host (or host:port), fixed at build time and
// overridden at run time by the environment variable MORVANE_MAKER_HOST.
QString makerHost();

// Whether this build has a maker's server to talk to: false when the host lies
// under the reserved .example domain (the default of a development build),
// which can never answer. The program then sends it nothing at all.
bool hasMakerServer();
bool isPlaceholderHost(const QString &host);

// The tooltip of the commands that need the maker's server, in a build without one.
QString noMakerServerText();

// The plain web address of the program's online help:
// "http://" + host + "/help/" + product name in lower case, blanks as "-", + "/".
QString onlineHelpUrl(const QString &productName);

// The maker's home page: "https://" + host + "/".
QString makerHomePage();
