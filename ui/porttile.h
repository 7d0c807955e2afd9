#pragma once

#include "run/watch.h"

#include <chrono>
#include <memory>
#include <optional>
#include <QElapsedTimer>
#include <QFrame>
#include <QList>
#include <QTimer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tqb9 {

// One port of the station window: its PortWatch, and what the operator reads of it. The watch's
// signals only change what the tile holds; the widgets follow in refresh(), which the window calls
// at most a few times a second, so sixteen ports writing at once cost the window little.
class PortTile : public QFrame {
    Q_OBJECT
public:
    static constexpr int kWidth = 240;
    static constexpr int kHeight = 270;
    // A step that has gone this long without a reply or a block written is said to be waiting
    // for the radio, so a bar that no longer moves never looks like a frozen window.
    static constexpr std::chrono::milliseconds kQuietAfter{1000};

    // The three ways a run can end for the operator. A stop is the operator's own doing, so it
    // is neither a failure nor counted as one.
    enum class Ending { Completed, Failed, Stopped };
    static Ending endingOf(const RunReport& report);
    // Runs counted by how they ended, for a tile and for the whole station.
    struct Tally {
        int completed = 0;
        int failed = 0;
        int stopped = 0;
        // Counts the run report is about, and says how it ended.
        Ending add(const RunReport& report);
    };

    // What the whole tile's colour says, to be read from across the room.
    enum class Look { Plain, Waiting, Writing, Completed, Failed, Stopped, Held, Absent };
    // The tile's background for a look, and the text colour that reads on it.
    static QColor background(Look look);
    static QColor foreground(Look look);

    // device: what the port led to when it was chosen, shown beside it.
    PortTile(Run::Setup setup, const QString& device, PortWatch::Timing timing,
             QWidget* parent = nullptr);
    ~PortTile() override;

    const Run::Setup& setup() const { return m_setup; }
    PortWatch& watch() { return *m_watch; }
    PortWatch::State state() const { return m_watch->state(); }
    // Writing, or waiting with automatic on, or asked to start: about to use its firmware.
    bool busy() const { return m_watch->busy(); }

    // Another firmware for the runs to come; only while the tile is idle.
    void setFirmware(const Firmware& firmware);

    int completed() const { return m_tally.completed; }
    int failed() const { return m_tally.failed; }
    int stopped() const { return m_tally.stopped; }
    Look look() const { return m_look; }

    // The widgets show what the tile holds now.
    void refresh();

    QLabel* stateLabel() const { return m_state; }
    QLabel* detailLabel() const { return m_detail; }
    QLabel* timeLabel() const { return m_time; }
    QLabel* adviceLabel() const { return m_advice; }
    QLabel* cableLabel() const { return m_cable; }
    QLabel* countsLabel() const { return m_counts; }
    QProgressBar* bar() const { return m_bar; }
    QPushButton* startButton() const { return m_start; }
    QPushButton* stopButton() const { return m_stop; }
    QPushButton* removeButton() const { return m_remove; }

signals:
    // What it holds changed: the window calls refresh() soon.
    void changed();
    void runFinished(const tqb9::RunReport& report);
    void stateChanged(tqb9::PortWatch::State state);
    void startPressed();
    void removePressed();

protected:
    // The state's type grows with the tile, so a maximised window reads from further away.
    void resizeEvent(QResizeEvent* event) override;

private:
    void makeWatch();
    void showCable(const QString& device);
    void progressed();
    void setLook(Look look);
    void fitStateFont();

    Run::Setup m_setup;
    PortWatch::Timing m_timing;
    std::unique_ptr<PortWatch> m_watch;

    // What the widgets show at the next refresh.
    PortWatch::State m_watchState = PortWatch::State::Idle;
    Step m_step = Step::Query;
    int m_blocksDone = 0;
    int m_blocksTotal = 0;
    double m_writeSeconds = 0;
    QElapsedTimer m_runClock;
    QTimer m_quiet;
    bool m_waitingForAnswer = false;
    // Attempts of the going step whose windows ran out unanswered since its last progress.
    int m_unanswered = 0;
    // The outcome held on the tile until the next run starts, removal of the radio included.
    std::optional<RunReport> m_outcome;
    // The radio the outcome is about has been seen gone since, so a radio held now is another.
    bool m_outcomeRadioGone = false;
    Tally m_tally;
    QString m_cableDevice;
    Look m_look = Look::Plain;

    QLabel* m_title = nullptr;
    QLabel* m_cable = nullptr;
    QLabel* m_state = nullptr;
    QProgressBar* m_bar = nullptr;
    QLabel* m_detail = nullptr;
    QLabel* m_time = nullptr;
    QLabel* m_advice = nullptr;
    QLabel* m_counts = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_remove = nullptr;
};

} // namespace tqb9
