#include "WrappedLabel.h"

WrappedLabel::WrappedLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setWordWrap(true);
}

WrappedLabel::Shape WrappedLabel::shape() const
{
    return {text(), font(), contentsMargins(), margin(), indent(), alignment(), textFormat(), wordWrap()};
}

int WrappedLabel::heightForWidth(int width) const
{
    Shape now = shape();
    if (!(now == m_shape)) {
        m_shape = std::move(now);
        m_answers.fill({});
    }
    for (const Answer& answer : m_answers) {
        if (answer.width == width)
            return answer.height;
    }
    const int height = QLabel::heightForWidth(width);
    m_answers[m_next] = {width, height};
    m_next = (m_next + 1) % m_answers.size();
    return height;
}
