#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace platform {

// Opens a web page or a file with the desktop's default program. When the
// desktop has none for it, the user is told, and offered what still helps:
// the web address, or the file's path, to copy. Answers whether it opened.
bool openWithDesktop(const QUrl &url);

inline constexpr const char *kWebPageNotOpenedMessage = "Couldn't open the web page";
inline constexpr const char *kWebPageNotOpenedText =
    "No web browser could be started for it. Copy the address to open it in a browser:\n%1";
inline constexpr const char *kCopyAddressButton = "Copy Address";
inline constexpr const char *kFileNotOpenedMessage = "Couldn't open “%1”";
inline constexpr const char *kFileNotOpenedText = "No program could be started to open this file. It is in the folder:\n%1";
inline constexpr const char *kCopyPathButton = "Copy Path";

// What openWithDesktop says of a file no program opened, for a program of
// the desktop that did not start on a file (an e-mail with it attached):
// the message, the text with the file's folder, the path to copy.
void tellFileNotOpened(const QString &path, const QString &messageText, const QString &informativeText);

// Stands in for the desktop (tests); an empty one restores it.
using DesktopOpener = std::function<bool(const QUrl &)>;
void setDesktopOpener(DesktopOpener opener);

} // namespace platform
