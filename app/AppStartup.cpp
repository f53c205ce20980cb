#include "app/AppStartup.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/MainForm.h"
#include "platform/locale/Locale.h"

namespace tilgung {

void InitLocale() {
  platform::FormatSettings::ReloadUser();
}

bool DisplayAvailable() {
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0' && std::strncmp(platform, "xcb", 3) != 0 &&
      std::strncmp(platform, "wayland", 7) != 0) {
    return true;
  }
  return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

namespace {

// Connects a stream socket of `family` to `address`; true when something
// listens there.
bool Connects(int family, const sockaddr* address, socklen_t length) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = ::connect(fd, address, length) == 0;
  ::close(fd);
  return ok;
}

bool UnixSocketListens(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return Connects(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

// DISPLAY is [host]:number[.screen]; an empty host or "unix" is the local
// socket, any other host the TCP port 6000 + number.
bool XDisplayListens(const std::string& display) {
  const auto colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = display.substr(0, colon);
  std::string number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
      number.size() > 4) {
    return false;
  }
  if (host.empty() || host == "unix") {
    // An abstract socket first (what current servers also offer), then the file.
    const std::string path = "/tmp/.X11-unix/X" + number;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, path.data(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
    return Connects(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length) ||
           UnixSocketListens(path);
  }
  if (host.front() == '/') return UnixSocketListens(host);  // a launchd-style socket path
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(6000 + std::stoi(number));
  if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return false;
  bool ok = false;
  for (addrinfo* a = found; a != nullptr && !ok; a = a->ai_next) {
    ok = Connects(a->ai_family, a->ai_addr, a->ai_addrlen);
  }
  ::freeaddrinfo(found);
  return ok;
}

bool WaylandListens(const std::string& display) {
  if (!display.empty() && display.front() == '/') return UnixSocketListens(display);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime == '\0') return false;
  return UnixSocketListens(std::string(runtime) + "/" + display);
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

bool DisplayReachable() {
  const std::string platform = Env("QT_QPA_PLATFORM");
  const bool wantsX = platform.rfind("xcb", 0) == 0;
  const bool wantsWayland = platform.rfind("wayland", 0) == 0;
  if (!platform.empty() && !wantsX && !wantsWayland) return true;  // offscreen, vnc, ...
  const std::string x = Env("DISPLAY");
  const std::string wayland = Env("WAYLAND_DISPLAY");
  if (!wantsWayland && !x.empty() && XDisplayListens(x)) return true;
  if (!wantsX && !wayland.empty() && WaylandListens(wayland)) return true;
  return false;
}

void InitApplication(QApplication& app) {
  // The application name is what the desktop shows for the program; the
  // window keeps its own caption.
  app.setApplicationName(QString::fromLatin1(kApplicationTitle));
  app.setDesktopFileName(QStringLiteral("org.example.tilgungsplan"));

  // The toolkit's own dialogs (print preview, file dialog, message boxes)
  // in the user's language; without a chosen locale in German, like every
  // text of the program.
  QLocale ui = QLocale::system();
  if (ui.language() == QLocale::C) ui = QLocale(QLocale::German, QLocale::Germany);
  const QString path = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  for (const char* catalog : {"qtbase", "qt"}) {
    auto* translator = new QTranslator(&app);
    if (translator->load(ui, QString::fromLatin1(catalog), QStringLiteral("_"), path)) {
      QCoreApplication::installTranslator(translator);
      break;
    } else {
      delete translator;
    }
  }
}

}  // namespace tilgung
