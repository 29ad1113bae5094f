#include "ViewUnits.h"

#include "UserDirs.h"

#include <QAction>
#include <QActionGroup>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QSettings>
#include <QWidget>
#include <memory>

namespace {

constexpr const char *kDegreeNames[] = {"decimal", "dm", "dms"};
constexpr const char *kDegreeTexts[] = {"Decimal degrees", "Degrees, minutes",
                                        "Degrees, minutes, seconds"};
constexpr const char *kSpeedNames[] = {"kmh", "mps", "knots", "mph"};
constexpr const char *kSpeedTexts[] = {"km/h", "m/s", "Knots", "mph"};
constexpr const char *kLengthNames[] = {"m", "ft"};
constexpr const char *kLengthTexts[] = {"Metres", "Feet"};

// The choices live in $XDG_CONFIG_HOME/skywatch/view.conf; without a settings folder they last
// for the run only.
std::unique_ptr<QSettings> Settings() {
    const std::string dir = platform::ConfigDir();
    if (dir.empty())
        return nullptr;
    return std::make_unique<QSettings>(QString::fromStdString(dir) + QStringLiteral("/view.conf"),
                                       QSettings::IniFormat);
}

// The index of the stored name in names, or fallback for a name the program does not know.
template <std::size_t N>
int Stored(const QSettings *s, const char *key, const char *const (&names)[N], int fallback) {
    if (s == nullptr)
        return fallback;
    const QString value = s->value(QString::fromLatin1(key)).toString();
    for (std::size_t i = 0; i < N; ++i)
        if (value == QLatin1String(names[i]))
            return static_cast<int>(i);
    return fallback;
}

} // namespace

CViewUnits::CViewUnits(QWidget &view, std::function<void()> changed,
                       std::function<QString(display::DegreeFormat)> position)
    : QObject(&view), m_view(view), m_changed(std::move(changed)), m_position(std::move(position)) {
    const std::unique_ptr<QSettings> s = Settings();
    m_units.degrees = static_cast<display::DegreeFormat>(
        Stored(s.get(), "units/degrees", kDegreeNames, static_cast<int>(m_units.degrees)));
    m_units.speed = static_cast<display::SpeedUnit>(
        Stored(s.get(), "units/speed", kSpeedNames, static_cast<int>(m_units.speed)));
    m_units.length = static_cast<display::LengthUnit>(
        Stored(s.get(), "units/length", kLengthNames, static_cast<int>(m_units.length)));
    m_degrees =
        AddGroup("degrees", kDegreeNames, kDegreeTexts, 3, static_cast<int>(m_units.degrees));
    m_speed = AddGroup("speed", kSpeedNames, kSpeedTexts, 4, static_cast<int>(m_units.speed));
    m_length = AddGroup("length", kLengthNames, kLengthTexts, 2, static_cast<int>(m_units.length));

    // The view's own shortcut: it works while the desktop layout is on show in the window.
    m_copy = new QAction(QStringLiteral("Copy position"), this);
    m_copy->setObjectName(QStringLiteral("copy-position"));
    m_copy->setShortcut(QKeySequence::Copy);
    m_copy->setShortcutContext(Qt::WindowShortcut);
    connect(m_copy, &QAction::triggered, this, [this] { Copy(m_units.degrees); });
    m_view.addAction(m_copy);
    for (int i = 0; i < 3; ++i) {
        m_copyAs[i] = new QAction(QStringLiteral("Copy position: ") + kDegreeTexts[i], this);
        m_copyAs[i]->setObjectName(QStringLiteral("copy-position-") + kDegreeNames[i]);
        connect(m_copyAs[i], &QAction::triggered, this,
                [this, i] { Copy(static_cast<display::DegreeFormat>(i)); });
    }
}

QActionGroup *CViewUnits::AddGroup(const char *what, const char *const names[],
                                   const char *const texts[], int count, int chosen) {
    auto *group = new QActionGroup(this);
    for (int i = 0; i < count; ++i) {
        QAction *a = group->addAction(QString::fromUtf8(texts[i]));
        a->setObjectName(
            QStringLiteral("view-%1-%2").arg(QLatin1String(what), QLatin1String(names[i])));
        a->setData(i);
        a->setCheckable(true);
        a->setChecked(i == chosen);
        connect(a, &QAction::triggered, this, [this] { Pick(); });
    }
    return group;
}

void CViewUnits::Pick() {
    const auto index = [](const QActionGroup *g) {
        return g->checkedAction() != nullptr ? g->checkedAction()->data().toInt() : 0;
    };
    m_units.degrees = static_cast<display::DegreeFormat>(index(m_degrees));
    m_units.speed = static_cast<display::SpeedUnit>(index(m_speed));
    m_units.length = static_cast<display::LengthUnit>(index(m_length));
    if (const std::unique_ptr<QSettings> s = Settings()) {
        s->setValue(QStringLiteral("units/degrees"), QLatin1String(kDegreeNames[index(m_degrees)]));
        s->setValue(QStringLiteral("units/speed"), QLatin1String(kSpeedNames[index(m_speed)]));
        s->setValue(QStringLiteral("units/length"), QLatin1String(kLengthNames[index(m_length)]));
    }
    if (m_changed)
        m_changed();
}

void CViewUnits::Copy(display::DegreeFormat format) const {
    const QString text = m_position(format);
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void CViewUnits::AddTo(QMenu &menu) const {
    QMenu *view = menu.addMenu(QStringLiteral("View"));
    for (const QActionGroup *g : {m_degrees, m_speed, m_length}) {
        view->addActions(g->actions());
        view->addSeparator();
    }
    const bool has = !m_position(m_units.degrees).isEmpty();
    menu.addAction(m_copy);
    for (QAction *a : m_copyAs) {
        a->setEnabled(has);
        menu.addAction(a);
    }
}
