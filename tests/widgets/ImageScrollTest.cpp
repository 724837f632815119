// An image whose picture is larger than the control: scroll bars, the view
// that follows them, and mouse points that name the pixel under the pointer.

#include <QMouseEvent>
#include <QScrollBar>

#include "WidgetFixture.h"

using namespace vmk;

namespace {

// Each pixel's colour tells its place: red = x, green = y (both mod 256), blue 7.
TColor At(int x, int y) { return RGBColor(static_cast<uint8_t>(x), static_cast<uint8_t>(y), 7); }

void Fill(TImage& image, int w, int h) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) bitmap.GetCanvas().SetPixel(x, y, At(x, y));
    image.GetPicture().Assign(&bitmap);
}

QScrollBar* Bar(TImage& image, Qt::Orientation o) {
    for (QScrollBar* bar : image.GetWidget()->findChildren<QScrollBar*>())
        if (bar->orientation() == o) return bar;
    return nullptr;
}

struct Seen {
    int moves = 0, ups = 0, x = 0, y = 0;
};

class ImageScroll : public WidgetTest {
protected:
    void SetUp() override {
        WidgetTest::SetUp();
        image = Make<TImage>("Image");
        image->SetBounds(10, 10, 100, 80);
        image->OnMouseMove = [this](TObject*, TShiftState, int x, int y) {
            ++seen.moves;
            seen.x = x;
            seen.y = y;
        };
        image->OnMouseUp = [this](TObject*, TMouseButton, TShiftState, int x, int y) {
            ++seen.ups;
            seen.x = x;
            seen.y = y;
        };
    }
    void Send(QWidget* to, QEvent::Type type, int x, int y) {
        const QPointF local(x, y);
        QMouseEvent e(type, local, to->mapToGlobal(local), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(to, &e);
    }
    TImage* image = nullptr;
    Seen seen;
};

TEST_F(ImageScroll, LargerPictureGetsBarsAndScrollsWithinItsRange) {
    Fill(*image, 300, 200);
    ASSERT_NE(Bar(*image, Qt::Horizontal), nullptr);
    EXPECT_TRUE(Bar(*image, Qt::Horizontal)->isVisibleTo(image->GetWidget()));
    EXPECT_TRUE(Bar(*image, Qt::Vertical)->isVisibleTo(image->GetWidget()));
    const int vw = image->GetViewWidth(), vh = image->GetViewHeight();
    EXPECT_LT(vw, 100);
    EXPECT_LT(vh, 80);
    EXPECT_EQ(image->GetWidth(), 100);  // the control keeps its size

    image->ScrollTo(50, 30);
    EXPECT_EQ(image->GetScrollLeft(), 50);
    EXPECT_EQ(image->GetScrollTop(), 30);
    // What shows at the control's corner is the picture at the scroll position.
    QImage shot = image->GetWidget()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(0, 0), QColor(50, 30, 7));
    EXPECT_EQ(shot.pixelColor(4, 9), QColor(54, 39, 7));

    // Never past the picture's last row and column.
    image->ScrollTo(10000, 10000);
    EXPECT_EQ(image->GetScrollLeft(), 300 - vw);
    EXPECT_EQ(image->GetScrollTop(), 200 - vh);
    shot = image->GetWidget()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(vw - 1, vh - 1), QColor(299 % 256, 199, 7));
    // A change of the same picture (a new see-through colour) keeps the view;
    // a new picture starts at its corner.
    image->GetPicture().GetBitmap().SetTransparentColor(clBlack);
    image->PictureChanged();
    EXPECT_EQ(image->GetScrollLeft(), 300 - vw);
    Fill(*image, 300, 200);
    EXPECT_EQ(image->GetScrollLeft(), 0);
    EXPECT_EQ(image->GetScrollTop(), 0);
}

TEST_F(ImageScroll, ScrollInViewMovesAsLittleAsNeeded) {
    Fill(*image, 1000, 700);
    const int vw = image->GetViewWidth(), vh = image->GetViewHeight();
    // Already in view: no move.
    image->ScrollInView(TRect{10, 10, 20, 20});
    EXPECT_EQ(image->GetScrollLeft(), 0);
    // Right bottom: its far corner comes to the view's far corner.
    image->ScrollInView(TRect{960, 680, 1000, 700});
    EXPECT_EQ(image->GetScrollLeft(), 1000 - vw);
    EXPECT_EQ(image->GetScrollTop(), 700 - vh);
    // Left of the view: its start comes to the view's start.
    image->ScrollInView(TRect{100, 650, 110, 660});
    EXPECT_EQ(image->GetScrollLeft(), 100);
    EXPECT_EQ(image->GetScrollTop(), 700 - vh);
    // Larger than the view: its top-left corner shows.
    image->ScrollInView(TRect{400, 300, 400 + 2 * vw, 300 + 2 * vh});
    EXPECT_EQ(image->GetScrollLeft(), 400);
    EXPECT_EQ(image->GetScrollTop(), 300);
}

TEST_F(ImageScroll, MousePointsAreThePicturesUnderThePointer) {
    Fill(*image, 300, 200);
    image->ScrollTo(120, 90);
    QWidget* w = image->GetWidget();
    Send(w, QEvent::MouseMove, 5, 6);
    EXPECT_EQ(seen.moves, 1);
    EXPECT_EQ(seen.x, 125);
    EXPECT_EQ(seen.y, 96);
    Send(w, QEvent::MouseButtonRelease, 7, 8);
    EXPECT_EQ(seen.ups, 1);
    EXPECT_EQ(seen.x, 127);
    EXPECT_EQ(seen.y, 98);

    // Over a scroll bar the pointer is on no pixel: a move says so, a click
    // there is the bar's own.
    QScrollBar* vert = Bar(*image, Qt::Vertical);
    Send(vert, QEvent::MouseMove, 3, 3);
    EXPECT_EQ(seen.moves, 2);
    EXPECT_EQ(seen.x, -1);
    EXPECT_EQ(seen.y, -1);
    Send(vert, QEvent::MouseButtonRelease, 3, 3);
    EXPECT_EQ(seen.ups, 1);
    // A release beyond the control after a drag picks nothing either.
    Send(w, QEvent::MouseButtonRelease, 150, 10);
    EXPECT_EQ(seen.ups, 1);
}

TEST_F(ImageScroll, AutoSizeStaysWithinItsBoxAndNeverShrinksToNothing) {
    image->SetAutoSize(true);
    Fill(*image, 30, 20);
    EXPECT_EQ(image->GetWidth(), 30);
    EXPECT_EQ(image->GetHeight(), 20);
    // A larger picture scrolls inside the box the bounds last set.
    Fill(*image, 3000, 50);
    EXPECT_EQ(image->GetWidth(), 100);
    EXPECT_GT(image->GetHeight(), 50);  // room for the horizontal bar below the rows
    EXPECT_LE(image->GetHeight(), 80);
    EXPECT_EQ(image->GetViewHeight(), 50);
    EXPECT_TRUE(Bar(*image, Qt::Horizontal)->isVisibleTo(image->GetWidget()));
    // An empty picture leaves the size alone.
    TBitmap empty;
    image->GetPicture().Assign(&empty);
    EXPECT_EQ(image->GetWidth(), 100);
    EXPECT_GT(image->GetHeight(), 0);
}

}  // namespace

// No event loop or dispatch in between: the picture itself tells the control.
TEST_F(ImageScroll, PictureChangesReachTheControlWithoutAnEvent) {
    Fill(*image, 300, 200);
    ASSERT_TRUE(Bar(*image, Qt::Horizontal)->isVisibleTo(image->GetWidget()));
    image->ScrollTo(40, 20);
    // The same bitmap shrunk to fit: its bars go and the view widens.
    image->GetPicture().GetBitmap().SetSize(50, 40);
    EXPECT_FALSE(Bar(*image, Qt::Horizontal)->isVisibleTo(image->GetWidget()));
    EXPECT_FALSE(Bar(*image, Qt::Vertical)->isVisibleTo(image->GetWidget()));
    EXPECT_EQ(image->GetViewWidth(), 100);
    EXPECT_EQ(image->GetScrollLeft(), 0);
    // Grown again wider only: the horizontal bar comes back alone.
    image->GetPicture().GetBitmap().SetWidth(400);
    EXPECT_TRUE(Bar(*image, Qt::Horizontal)->isVisibleTo(image->GetWidget()));
    EXPECT_FALSE(Bar(*image, Qt::Vertical)->isVisibleTo(image->GetWidget()));
    // Pixels drawn on its canvas show at once.
    image->GetCanvas().SetPixel(0, 0, clWhite);
    EXPECT_EQ(image->GetWidget()->grab().toImage().pixelColor(0, 0), QColor(255, 255, 255));
}

// Qt may free a control's widget before the control (its window went first):
// the control then no longer reaches for it.
TEST_F(ImageScroll, AControlOutlivesItsWidget) {
    TButton* button = Make<TButton>("Button");
    delete button->GetWidget();
    EXPECT_EQ(button->GetWidget(), nullptr);
    button->SetBounds(1, 2, 30, 20);
    EXPECT_EQ(button->GetWidth(), 30);
    EXPECT_FALSE(button->IsShowing());
    form.reset();  // frees the button, with no widget left to free twice
}
