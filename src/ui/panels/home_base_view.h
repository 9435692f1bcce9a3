// The frame shared by the panel's sections (the input and output panels and the matrix panels):
// a thin gray rounded border with a pink title tag in the top-left corner. Sections derive from
// it and put their own title in the tag.
#pragma once

#include <QString>
#include <QWidget>

namespace h8::ui {

class LumLabel;

class NorvHomeBaseView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kTitleWidth = 130;
    static constexpr int kTitleHeight = 20;
    static constexpr int kTitleInset = 1;  // keeps the tag inside the border line

    explicit NorvHomeBaseView(QWidget* parent = nullptr);

    LumLabel* titleLb;  // shows "硬件输入" until a section sets its own title

    // The title a section set, empty until then; setting it also changes the tag's text.
    void setTitleText(const QString& text);
    QString titleText() const { return titleText_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString titleText_;
};

}  // namespace h8::ui
