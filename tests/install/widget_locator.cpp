// Where the panel's controls are on screen, so a test can click them with
// real X events in a program that has no test hooks (an installed railmon).
//
//   widget_locator PANEL_FILE NAME...   loads the panel file as railmon does,
//       shows it on the display railmon runs on and prints, for each PANEL_*
//       name, its control's rectangle within the window: "NAME x y w h" [px]
//   widget_locator --grab X Y W H [FILE]  prints a checksum of what the screen
//       shows in that rectangle [px, screen coordinates]; with FILE, saves it
//       as a PNG too (to look at)
#include "panel_loader.h"
#include "railmon-ctrl.h"
#include "userint.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <variant>

namespace {
int CVICALLBACK ignore(int, int, int, void*, int, int)
{
    return 0;
}
} // namespace

// The panel file is checked against the same names as railmon's; its
// callbacks do nothing here.
RAILMON_UI_TABLES(ignore)

namespace {

struct NamedControl {
    const char* name;
    int id;
};
constexpr NamedControl kControls[] = {
#define RAILMON_NAMED_CONTROL(name, id, ...) {#name, id},
    RAILMON_PANEL_CONTROLS(RAILMON_NAMED_CONTROL)
#undef RAILMON_NAMED_CONTROL
};

int idOf(const char* name)
{
    for (const NamedControl& control : kControls)
        if (std::strcmp(control.name, name) == 0)
            return control.id;
    return 0;
}

// Lets the window be mapped and laid out before anything is measured.
void settle()
{
    QTimer::singleShot(300, qApp, &QCoreApplication::quit);
    QApplication::exec();
}

int grab(char* argv[])
{
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, std::atoi(argv[2]), std::atoi(argv[3]),
                                                                      std::atoi(argv[4]), std::atoi(argv[5]));
    const QImage image = shot.toImage().convertToFormat(QImage::Format_RGB32);
    if (argv[6] && !image.save(QString::fromLocal8Bit(argv[6]), "PNG"))
        return 1;
    const QByteArray pixels(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes());
    std::printf("%s\n", QCryptographicHash::hash(pixels, QCryptographicHash::Sha1).toHex().constData());
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if ((argc == 6 || argc == 7) && std::strcmp(argv[1], "--grab") == 0)
        return grab(argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PANEL_FILE NAME... | --grab X Y W H [FILE]\n", argv[0]);
        return 2;
    }
    std::variant<Panel, QString> loaded = loadPanelFile(QString::fromLocal8Bit(argv[1]), PANEL);
    if (auto* cause = std::get_if<QString>(&loaded)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(*cause));
        return 1;
    }
    Panel& panel = std::get<Panel>(loaded);
    panel.root->show();
    settle();
    for (int i = 2; i < argc; ++i) {
        const auto control = panel.controls.constFind(idOf(argv[i]));
        auto* widget = control == panel.controls.cend() ? nullptr : qobject_cast<QWidget*>(control->object);
        if (!widget) {
            std::fprintf(stderr, "%s: no such control with a place on screen\n", argv[i]);
            return 1;
        }
        const QPoint at = widget->mapTo(panel.root, QPoint(0, 0));
        std::printf("%s %d %d %d %d\n", argv[i], at.x(), at.y(), widget->width(), widget->height());
    }
    delete panel.root;
    return 0;
}
