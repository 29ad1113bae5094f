#pragma once

#include "Units.h"

#include <QObject>
#include <QString>
#include <functional>

class QAction;
class QActionGroup;
class QMenu;
class QWidget;

// The desktop layout's choice of degree format, speed and length units, kept in the settings
// folder between runs, and the position copied to the clipboard (Ctrl+C, or in any format from
// the context menu). Actions are named "view-<what>-<choice>" and "copy-position[-<format>]".
class CViewUnits : public QObject {
public:
    // changed runs after the user picks a unit; position gives the position in a format, ""
    // while there is none.
    CViewUnits(QWidget &view, std::function<void()> changed,
               std::function<QString(display::DegreeFormat)> position);

    const display::UnitChoice &Units() const { return m_units; }
    // The View submenu and the copy actions, for the context menu.
    void AddTo(QMenu &menu) const;

private:
    QActionGroup *AddGroup(const char *what, const char *const names[], const char *const texts[],
                           int count, int chosen);
    void Pick();
    void Copy(display::DegreeFormat format) const;

    QWidget &m_view;
    std::function<void()> m_changed;
    std::function<QString(display::DegreeFormat)> m_position;
    display::UnitChoice m_units;
    QActionGroup *m_degrees = nullptr;
    QActionGroup *m_speed = nullptr;
    QActionGroup *m_length = nullptr;
    QAction *m_copy = nullptr;
    QAction *m_copyAs[3] = {};
};
