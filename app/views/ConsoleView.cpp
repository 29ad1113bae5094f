#include "views/ConsoleView.h"

#include "GpsPort.h"
#include "StreamText.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kRefreshMs = 200;

QString TypeWords(const TapLine &line) {
    return QString::fromStdString(TapType(line));
}

} // namespace

int CConsoleModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_shown.size());
}

const TapLine &CConsoleModel::Line(int row) const {
    return m_lines[static_cast<std::size_t>(m_shown[static_cast<std::size_t>(row)] -
                                            m_lines.front().seq)];
}

QString CConsoleModel::RowText(int row) const {
    const TapLine &line = Line(row);
    switch (m_view) {
    case View::Hex:
        return QString::fromLatin1(TapHex(line));
    case View::Decoded:
        return QString::fromLatin1(TapDecoded(line));
    case View::Text:
        break;
    }
    // Sentences are printable ASCII; a bad one may hold anything, shown as Latin-1.
    return QString::fromLatin1(TapText(line));
}

QVariant CConsoleModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return RowText(index.row());
    case KindRole:
        return static_cast<int>(Line(index.row()).kind);
    case Qt::ForegroundRole:
        switch (Line(index.row()).kind) {
        case TapKind::BadSentence:
            return QColor(200, 0, 0);
        case TapKind::Sent:
            return QColor(0, 70, 200);
        case TapKind::Ubx:
            return QColor(120, 40, 140);
        case TapKind::Rtcm:
            return QColor(0, 120, 60);
        case TapKind::Sentence:
            break;
        }
        return {};
    default:
        return {};
    }
}

bool CConsoleModel::Passes(const TapLine &line) const {
    if (m_terms.isEmpty())
        return true;
    const QString type = TypeWords(line);
    for (const QString &term : m_terms) {
        if (type.contains(term, Qt::CaseInsensitive))
            return true;
        if (line.kind == TapKind::BadSentence &&
            term.compare(QLatin1String("bad"), Qt::CaseInsensitive) == 0)
            return true;
        if (line.kind == TapKind::Sent &&
            (term == QLatin1String(">>") ||
             term.compare(QLatin1String("sent"), Qt::CaseInsensitive) == 0))
            return true;
    }
    return false;
}

void CConsoleModel::Rebuild() {
    beginResetModel();
    m_shown.clear();
    for (const TapLine &line : m_lines)
        if (Passes(line))
            m_shown.push_back(line.seq);
    endResetModel();
}

void CConsoleModel::Append(std::vector<TapLine> lines) {
    if (lines.empty())
        return;
    // The tap went round past what was held (the window was slow, or a new tap): start afresh.
    if (!m_lines.empty() && lines.front().seq != m_lines.back().seq + 1) {
        m_lines.clear();
        for (TapLine &line : lines)
            m_lines.push_back(std::move(line));
        Rebuild();
        return;
    }
    std::vector<std::uint64_t> added;
    for (TapLine &line : lines) {
        if (Passes(line))
            added.push_back(line.seq);
        m_lines.push_back(std::move(line));
    }
    // The same bound as the tap's: the newest lines only, never more.
    const std::size_t excess =
        m_lines.size() > CStreamTap::kCapacity ? m_lines.size() - CStreamTap::kCapacity : 0;
    if (excess > 0) {
        const std::uint64_t front = m_lines[excess].seq;
        const auto gone = static_cast<int>(std::lower_bound(m_shown.begin(), m_shown.end(), front) -
                                           m_shown.begin());
        if (gone > 0) {
            beginRemoveRows(QModelIndex(), 0, gone - 1);
            m_shown.erase(m_shown.begin(), m_shown.begin() + gone);
            m_lines.erase(m_lines.begin(), m_lines.begin() + static_cast<std::ptrdiff_t>(excess));
            endRemoveRows();
        } else {
            m_lines.erase(m_lines.begin(), m_lines.begin() + static_cast<std::ptrdiff_t>(excess));
        }
        // Added lines themselves past the bound: keep only those still held.
        added.erase(added.begin(), std::lower_bound(added.begin(), added.end(), front));
    }
    if (added.empty())
        return;
    const int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(added.size()) - 1);
    m_shown.insert(m_shown.end(), added.begin(), added.end());
    endInsertRows();
}

void CConsoleModel::SetFilter(const QString &filter) {
    m_terms = filter.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    Rebuild();
}

void CConsoleModel::SetView(View view) {
    if (view == m_view)
        return;
    m_view = view;
    if (!m_shown.empty())
        emit dataChanged(index(0), index(rowCount() - 1), {Qt::DisplayRole});
}

CConsoleView::CConsoleView(CGpsPort &port, QWidget *parent)
    : QWidget(parent, Qt::Window), m_port(port), m_model(this) {
    setWindowTitle(QStringLiteral("Skywatch - console"));
    auto *layout = new QVBoxLayout(this);
    auto *controls = new QHBoxLayout;
    m_viewList = new QComboBox(this);
    for (const char *view : {"text", "hex", "decoded"})
        m_viewList->addItem(QString::fromLatin1(view));
    m_viewList->setToolTip(QStringLiteral("Each line as text, as hex bytes with ASCII, or with "
                                          "its fields named"));
    connect(m_viewList, &QComboBox::activated, this,
            [this](int i) { SetView(static_cast<CConsoleModel::View>(i)); });
    m_filter = new QLineEdit(this);
    m_filter->setPlaceholderText(QStringLiteral("filter: GSV UBX-NAV RTCM bad sent"));
    m_filter->setToolTip(QStringLiteral("Shows the lines whose type holds any of the words"));
    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString &t) {
        m_model.SetFilter(t);
        ShowCounts();
    });
    m_pause = new QCheckBox(QStringLiteral("Pause"), this);
    connect(m_pause, &QCheckBox::toggled, this, [this](bool on) {
        if (!on)
            Refresh();
        ShowCounts();
    });
    m_stopEdit = new QLineEdit(this);
    m_stopEdit->setPlaceholderText(QStringLiteral("stop on match"));
    m_stopEdit->setToolTip(QStringLiteral("Pauses when a new line holds this text"));
    connect(m_stopEdit, &QLineEdit::textChanged, this, [this](const QString &t) { m_stopOn = t; });
    auto *save = new QPushButton(QStringLiteral("Save..."), this);
    save->setToolTip(QStringLiteral("Writes the lines shown, as shown, to a file"));
    connect(save, &QPushButton::clicked, this, &CConsoleView::Save);
    controls->addWidget(m_viewList);
    controls->addWidget(m_filter, 2);
    controls->addWidget(m_pause);
    controls->addWidget(m_stopEdit, 1);
    controls->addWidget(save);

    m_list = new QListView(this);
    m_list->setModel(&m_model);
    // Every row one line high: 10,000 rows cost only the ones on screen.
    m_list->setUniformItemSizes(true);
    m_list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);

    auto *sendRow = new QHBoxLayout;
    m_command = new QLineEdit(this);
    m_command->setPlaceholderText(
        QStringLiteral("command: $PMTK... (checksum added) or UBX class id payload in hex"));
    auto *send = new QPushButton(QStringLiteral("Send"), this);
    const auto sendTyped = [this] {
        if (SendCommand(m_command->text()).startsWith(QLatin1String("sent")))
            m_command->clear();
    };
    connect(m_command, &QLineEdit::returnPressed, this, sendTyped);
    connect(send, &QPushButton::clicked, this, sendTyped);
    sendRow->addWidget(m_command, 1);
    sendRow->addWidget(send);
    m_status = new QLabel(this);
    m_counts = new QLabel(this);
    auto *statusRow = new QHBoxLayout;
    statusRow->addWidget(m_status, 1);
    statusRow->addWidget(m_counts);

    layout->addLayout(controls);
    layout->addWidget(m_list, 1);
    layout->addLayout(sendRow);
    layout->addLayout(statusRow);
    resize(760, 480);
    startTimer(kRefreshMs);
    Refresh();
}

void CConsoleView::timerEvent(QTimerEvent *) {
    if (isVisible())
        Refresh();
}

void CConsoleView::Refresh() {
    if (Paused())
        return;
    std::uint64_t seen = m_seen;
    std::vector<TapLine> lines = m_port.Tap().Since(seen);
    if (!m_stopOn.isEmpty()) {
        const auto match = std::find_if(lines.begin(), lines.end(), [this](const TapLine &l) {
            return QString::fromLatin1(TapText(l)).contains(m_stopOn, Qt::CaseInsensitive);
        });
        if (match != lines.end()) {
            // The match is the last line shown; what came after waits in the tap.
            seen = match->seq;
            lines.erase(match + 1, lines.end());
            m_pause->setChecked(true);
            m_status->setText(QStringLiteral("paused on a line holding \"%1\"").arg(m_stopOn));
        }
    }
    m_seen = seen;
    QScrollBar *bar = m_list->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    m_model.Append(std::move(lines));
    if (atEnd || Paused())
        m_list->scrollToBottom();
    ShowCounts();
}

void CConsoleView::SetView(CConsoleModel::View view) {
    m_viewList->setCurrentIndex(static_cast<int>(view));
    m_model.SetView(view);
}

void CConsoleView::SetFilter(const QString &filter) {
    m_filter->setText(filter);
}

void CConsoleView::SetPaused(bool paused) {
    m_pause->setChecked(paused);
}

bool CConsoleView::Paused() const {
    return m_pause->isChecked();
}

void CConsoleView::SetStopOn(const QString &pattern) {
    m_stopEdit->setText(pattern);
}

QString CConsoleView::SendCommand(const QString &typed) {
    QString said;
    std::string why;
    std::string bytes;
    if (!m_port.CanSend(why)) {
        said = QStringLiteral("not sent: %1").arg(QString::fromStdString(why));
    } else if (!BuildCommand(typed.toStdString(), bytes, why)) {
        said = QStringLiteral("not sent: %1").arg(QString::fromStdString(why));
    } else {
        m_port.Send(bytes.data(), bytes.size());
        const std::string failure = m_port.LastSendFailure();
        said = failure.empty()
                   ? QStringLiteral("sent %1 bytes").arg(bytes.size())
                   : QStringLiteral("not sent: %1").arg(QString::fromStdString(failure));
    }
    m_status->setText(said);
    Refresh();
    return said;
}

bool CConsoleView::SaveTo(const QString &path, QString &why) const {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        why = file.errorString();
        return false;
    }
    for (int row = 0; row < m_model.rowCount(); ++row) {
        file.write(m_model.RowText(row).toLatin1());
        file.write("\n");
    }
    if (!file.flush() || file.error() != QFileDevice::NoError) {
        why = file.errorString();
        return false;
    }
    return true;
}

void CConsoleView::Save() {
    // The dialog asks before it lets a file be overwritten.
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save the console"),
                                                      QString(), QStringLiteral("Text (*.txt)"));
    if (path.isEmpty())
        return;
    QString why;
    m_status->setText(SaveTo(path, why)
                          ? QStringLiteral("%1 lines saved to %2").arg(m_model.rowCount()).arg(path)
                          : QStringLiteral("cannot save to %1: %2").arg(path, why));
}

void CConsoleView::ShowCounts() {
    m_counts->setText(QStringLiteral("%1 of %2 lines%3")
                          .arg(m_model.rowCount())
                          .arg(m_model.Held())
                          .arg(Paused() ? QStringLiteral(", paused") : QString()));
}

QString CConsoleView::SummaryText() const {
    return QStringLiteral("console: %1 %2").arg(m_viewList->currentText(), m_counts->text());
}
