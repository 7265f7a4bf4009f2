#pragma once

#include <QLabel>
#include <QMargins>

#include <array>

// A word-wrapped label that remembers its heights. A layout asks a wrapped
// label's height for the same few widths again and again while a window
// settles, and QLabel lays its text out afresh for every question.
class WrappedLabel : public QLabel {
    Q_OBJECT
public:
    explicit WrappedLabel(const QString& text = {}, QWidget* parent = nullptr);

    int heightForWidth(int width) const override;

private:
    // What the height depends on besides the width.
    struct Shape {
        QString text;
        QFont font;
        QMargins contents;
        int margin = 0;
        int indent = 0;
        Qt::Alignment alignment;
        Qt::TextFormat format = Qt::AutoText;
        bool wrap = true;
        bool operator==(const Shape&) const = default;
    };
    Shape shape() const;

    struct Answer {
        int width = -1;
        int height = 0;
    };
    mutable Shape m_shape;
    mutable std::array<Answer, 4> m_answers {};
    mutable std::size_t m_next = 0;
};
