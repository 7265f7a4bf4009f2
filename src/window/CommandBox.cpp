#include "CommandBox.h"

#include "Glass.h"
#include "Look.h"
#include "Task.h"

#include <QClipboard>
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QPushButton* largeButton(const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setMinimumHeight(32);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

CommandBox::CommandBox(const QString& command, QWidget* parent) : QWidget(parent), m_command(command)
{
    m_later = [this](int milliseconds, std::function<void()> done) {
        QTimer::singleShot(milliseconds, Qt::PreciseTimer, this, std::move(done));
    };
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    m_text = new QLabel(command, this);
    m_text->setObjectName(QStringLiteral("command"));
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setWordWrap(true);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(Look::callout(font()).pointSizeF());
    m_text->setFont(mono);
    const QColor fill = Look::quaternaryFill(palette());
    m_text->setStyleSheet(QStringLiteral("QLabel#command { background-color: rgba(%1, %2, %3, %4);"
                                         " border-radius: 10px; padding: 10px 14px; }")
                              .arg(fill.red())
                              .arg(fill.green())
                              .arg(fill.blue())
                              .arg(fill.alphaF()));
    column->addWidget(m_text);

    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    row->addStretch();
    m_copy = largeButton(QStringLiteral("Copy Command"), this);
    glassButton(m_copy, true);
    setCopied(false);
    connect(m_copy, &QPushButton::clicked, this, &CommandBox::copy);
    row->addWidget(m_copy);
    m_terminal = largeButton(QStringLiteral("Open Terminal"), this);
    m_terminal->setIcon(Look::symbolIcon(QStringLiteral("terminal"), palette().color(QPalette::ButtonText)));
    glassButton(m_terminal, false);
    connect(m_terminal, &QPushButton::clicked, this, &CommandBox::openTerminal);
    row->addWidget(m_terminal);
    row->addStretch();
    column->addLayout(row);
}

void CommandBox::copy()
{
    QGuiApplication::clipboard()->setText(m_command);
    setCopied(true);
    // Each click times its own confirmation; none is cut short or extended.
    m_later(copiedMilliseconds, [this] { setCopied(false); });
}

void CommandBox::setLater(Later later)
{
    m_later = std::move(later);
}

void CommandBox::setCopied(bool copied)
{
    m_copied = copied;
    m_copy->setText(copied ? QStringLiteral("Copied") : QStringLiteral("Copy Command"));
    // White on the accent fill of the prominent look.
    m_copy->setIcon(Look::symbolIcon(copied ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc"), Qt::white));
}

void CommandBox::openTerminal()
{
    // Searching the path and starting a program touch the disk: a worker does
    // it. The desktop's own choice first, then the usual terminals. Whether one
    // starts is not reported.
    Task::run(
        this,
        [](const Cancel&) {
            for (const QString& name : {QStringLiteral("x-terminal-emulator"), QStringLiteral("gnome-terminal"),
                                        QStringLiteral("konsole"), QStringLiteral("xfce4-terminal"),
                                        QStringLiteral("xterm")}) {
                const QString program = QStandardPaths::findExecutable(name);
                if (!program.isEmpty()) {
                    // Detached on purpose: the terminal is the user's now and
                    // must outlive this application.
                    QProcess::startDetached(program, {}, QDir::homePath());
                    return;
                }
            }
        },
        [] {}, [](const std::exception_ptr&) {});
}
