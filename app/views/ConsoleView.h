#pragma once

#include "StreamTap.h"

#include <QAbstractListModel>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <vector>

class CGpsPort;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;

// The copied lines of the stream, the ones the filter lets through as rows, in one of three views.
class CConsoleModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum class View { Text, Hex, Decoded };
    // Each row's TapKind, as an int.
    static constexpr int KindRole = Qt::UserRole;

    explicit CConsoleModel(QObject *parent = nullptr) : QAbstractListModel(parent) {}
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    // Appends lines newer than the last one held, dropping the oldest past the capacity.
    void Append(std::vector<TapLine> lines);
    // Words separated by blanks or commas; a line is shown when its type holds any of them
    // (case ignored); "bad" and "sent" also pick those kinds. Empty: every line.
    void SetFilter(const QString &filter);
    void SetView(View view);
    View CurrentView() const { return m_view; }
    // The row's text in the view shown.
    QString RowText(int row) const;
    std::size_t Held() const { return m_lines.size(); }

private:
    bool Passes(const TapLine &line) const;
    void Rebuild();
    const TapLine &Line(int row) const;

    std::deque<TapLine> m_lines;        // contiguous sequence numbers, oldest first
    std::vector<std::uint64_t> m_shown; // the sequence numbers the filter lets through
    QStringList m_terms;
    View m_view = View::Text;
};

// The console: the stream as it arrives, a line per sentence or frame, with a filter, pause,
// stop on a match, saving what is shown, and a line to send a command to the receiver.
class CConsoleView : public QWidget {
    Q_OBJECT

public:
    explicit CConsoleView(CGpsPort &port, QWidget *parent = nullptr);
    // Takes the lines that came since the last look, unless paused.
    void Refresh();
    void SetView(CConsoleModel::View view);
    void SetFilter(const QString &filter);
    void SetPaused(bool paused);
    bool Paused() const;
    // Pauses once a new line's text holds pattern; empty: never.
    void SetStopOn(const QString &pattern);
    // Sends the typed command; what became of it, as the status line then says.
    QString SendCommand(const QString &typed);
    // Writes the rows shown, in the view shown, a line each; false with the reason.
    bool SaveTo(const QString &path, QString &why) const;
    const CConsoleModel &Model() const { return m_model; }
    // The lines held, shown, and the status line, for the screenshot's caption.
    QString SummaryText() const;

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void Save();
    void ShowCounts();

    CGpsPort &m_port;
    CConsoleModel m_model;
    std::uint64_t m_seen = 0;
    QString m_stopOn;
    QListView *m_list = nullptr;
    QComboBox *m_viewList = nullptr;
    QLineEdit *m_filter = nullptr;
    QCheckBox *m_pause = nullptr;
    QLineEdit *m_stopEdit = nullptr;
    QLineEdit *m_command = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_counts = nullptr;
};
