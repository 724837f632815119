// Files dragged from a file manager: which drags a control takes, and what its
// handler is given.

#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QUrl>

#include "WidgetFixture.h"

using namespace vmk;

namespace {

class DropFiles : public WidgetTest {
protected:
    // Enter, move and drop over target, as Qt delivers a drag; returns whether
    // the control took the drag when it entered.
    static bool Drag(QWidget* target, const QMimeData& mime) {
        const QPoint at(3, 3);
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        enter.setAccepted(false);
        QCoreApplication::sendEvent(target, &enter);
        if (!enter.isAccepted()) return false;
        QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &move);
        QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        EXPECT_EQ(drop.dropAction(), Qt::CopyAction);  // the file manager keeps its files
        return true;
    }
    static void Urls(QMimeData& mime, const std::vector<QString>& urls) {
        QList<QUrl> list;
        for (const QString& u : urls) list.append(QUrl(u));
        mime.setUrls(list);
    }
};

TEST_F(DropFiles, ListTakesLocalFilesInDropOrderAndLeavesOtherAddressesOut) {
    auto* list = Make<TListBox>("List");
    list->SetBounds(0, 0, 100, 100);
    std::vector<std::vector<std::string>> drops;
    list->OnDropFiles = [&](TObject* sender, const std::vector<std::string>& files) {
        EXPECT_EQ(sender, list);
        drops.push_back(files);
    };
    QMimeData mime;
    Urls(mime, {"file:///pics/b.jpg", "https://example.invalid/x.jpg", "file:///pics/a%20b.BMP"});

    // Not switched on: a drag of files goes by.
    QWidget* viewport = static_cast<QListWidget*>(list->GetWidget())->viewport();
    EXPECT_FALSE(Drag(viewport, mime));
    EXPECT_TRUE(drops.empty());

    list->SetDragAcceptFiles(true);
    EXPECT_TRUE(Drag(viewport, mime));
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0], (std::vector<std::string>{"/pics/b.jpg", "/pics/a b.BMP"}));

    // Nothing but web addresses or text: not a drag of files.
    QMimeData web;
    Urls(web, {"https://example.invalid/x.jpg"});
    EXPECT_FALSE(Drag(viewport, web));
    QMimeData text;
    text.setText("/pics/c.jpg");
    EXPECT_FALSE(Drag(viewport, text));
    EXPECT_EQ(drops.size(), 1u);
}

}  // namespace
