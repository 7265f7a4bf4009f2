#pragma once

#include "BrowserTypes.h"

#include <QWidget>

#include <optional>

class BrowserModel;
class DigitsLabel;
class GlassSurface;
class QLabel;
class QShortcut;
class QToolButton;
class Spinner;

// The floating capsule that shows the running job: a ring of its progress
// (a spinner while that is unknown), its message, the percentage, and Stop
// with the Escape key while the job can be stopped.
class TransferHUD : public QWidget {
    Q_OBJECT
public:
    explicit TransferHUD(BrowserModel* model, QWidget* parent = nullptr);

    // Shows `job`; nothing is redrawn when what shows stays the same.
    void setJob(const Job& job);
    // Leaves the job: Stop and Escape go at once, the capsule may still fade.
    void clearJob();

    QString message() const;
    // The percentage as shown; empty when none is.
    QString percentText() const;
    bool showsSpinner() const;
    // How far round the ring's arc is drawn now, 0 to 1.
    double ringFraction() const;
    // The capsule's glass, which fades it in and out.
    GlassSurface* surface() const;
    QToolButton* stopButton() const { return m_stop; }

    // How a progress value shows: clamped to 0-1, none for NaN.
    static std::optional<double> shownFraction(const std::optional<double>& progress);

private:
    class Ring;

    struct Shown {
        QString message;
        std::optional<int> ringSteps; // none: the spinner
        QString percent;
        bool cancellable = false;
        friend bool operator==(const Shown&, const Shown&) = default;
    };
    void display(const Shown& shown);

    BrowserModel* m_model;
    std::optional<Shown> m_shown;
    Ring* m_ring;
    Spinner* m_spinner;
    QLabel* m_message;
    DigitsLabel* m_percent;
    QToolButton* m_stop;
    QShortcut* m_escape;
    QWidget* m_row;
};
