#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QApplication>
#include <QFileDialog>
#include <QFile>
#include <QHeaderView>
#include <QTreeView>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "platform/Prompts.h"
#include "res/CommandIds.h"

using namespace platform;

namespace {

// Acts on the modal dialog as soon as it is up (checked every few milliseconds).
void WhenModal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      timer->stop();
      timer->deleteLater();
      act(modal);
    }
  });
  timer->start();
}

const std::vector<FileFilter> kSaveFilters{{"JPEGs (*.jpg, *.jpeg)", "*.jpg;*.jpeg"},
                                           {"Bitmaps (*.bmp)", "*.bmp"},
                                           {"TIFFs (*.tif)", "*.tif"},
                                           {"PNGs (*.png)", "*.png"}};

}  // namespace

TEST(PromptsTest, AResponderSeesEveryPromptAndAnswersIt) {
  std::vector<PromptRecord> seen;
  QWidget owner;
  {
    ScopedPromptResponder responder([&](const PromptRecord& record) {
      seen.push_back(record);
      PromptAnswer answer;
      answer.button = ids::IdNo;
      if (record.kind != PromptRecord::Message) answer.file = FileChoice{"/tmp/x.png", 4};
      return answer;
    });
    EXPECT_EQ(MessageBox(&owner, "Do you want to save the resized image?", "Confirm",
                         MbIcon::Question, MbButtons::YesNoCancel),
              ids::IdNo);
    auto opened = GetOpenFileName(&owner, {{"All Supported Files", "*.jpg;*.png"}});
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->path, "/tmp/x.png");
    auto saved = GetSaveFileName(&owner, kSaveFilters, "photo_200percents");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->filterIndex, 4);
  }
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].kind, PromptRecord::Message);
  EXPECT_EQ(seen[0].owner, &owner);
  EXPECT_EQ(seen[0].caption, "Confirm");
  EXPECT_EQ(seen[0].text, "Do you want to save the resized image?");
  EXPECT_EQ(seen[0].icon, MbIcon::Question);
  EXPECT_EQ(seen[0].buttons, MbButtons::YesNoCancel);
  EXPECT_EQ(seen[1].kind, PromptRecord::OpenFile);
  ASSERT_EQ(seen[1].filters.size(), 1u);
  EXPECT_EQ(seen[1].filters[0].description, "All Supported Files");
  EXPECT_EQ(seen[2].kind, PromptRecord::SaveFile);
  EXPECT_EQ(seen[2].text, "photo_200percents");
  EXPECT_EQ(seen[2].filters.size(), 4u);
}

TEST(PromptsTest, RespondersNestAndTheOuterOneComesBack) {
  int outer = 0, inner = 0;
  ScopedPromptResponder first([&](const PromptRecord&) {
    ++outer;
    return PromptAnswer{ids::IdYes, {}};
  });
  {
    ScopedPromptResponder second([&](const PromptRecord&) {
      ++inner;
      return PromptAnswer{ids::IdCancel, {}};
    });
    EXPECT_EQ(MessageBox(nullptr, "t", "c", MbIcon::None, MbButtons::YesNoCancel), ids::IdCancel);
  }
  EXPECT_EQ(MessageBox(nullptr, "t", "c", MbIcon::None, MbButtons::YesNoCancel), ids::IdYes);
  EXPECT_EQ(outer, 1);
  EXPECT_EQ(inner, 1);
}

TEST(PromptsTest, AMessageBoxShowsTheExactCaptionTextIconAndButtons) {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  WhenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    buttons = box->standardButtons();
    box->button(QMessageBox::No)->click();
  });
  EXPECT_EQ(MessageBox(nullptr, "Do you want to save the resized image?", "Confirm",
                       MbIcon::Question, MbButtons::YesNoCancel),
            ids::IdNo);
  EXPECT_EQ(title, "Confirm");
  EXPECT_EQ(text, "Do you want to save the resized image?");
  EXPECT_EQ(icon, QMessageBox::Question);
  EXPECT_EQ(buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);

  WhenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    icon = box->icon();
    buttons = box->standardButtons();
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(MessageBox(nullptr, "Can't find help file.", "Error", MbIcon::Error, MbButtons::Ok),
            ids::IdOk);
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(buttons, QMessageBox::Ok);
}

TEST(PromptsTest, TheOpenDialogAcceptsANameThatDoesNotExist) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString missing = dir.filePath("not-there.jpg");
  QStringList filters;
  bool anyFile = false, nonNative = false;
  WhenModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    filters = dialog->nameFilters();
    anyFile = dialog->fileMode() == QFileDialog::AnyFile;
    nonNative = dialog->testOption(QFileDialog::DontUseNativeDialog);
    dialog->selectFile(missing);
    static_cast<QDialog*>(dialog)->accept();
  });
  auto choice = GetOpenFileName(
      nullptr, {{"All Supported Files", "*.jpg;*.jpeg;*.png;*.gif;*.bmp;*.tif;*.tiff"}});
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->path, missing);
  EXPECT_EQ(choice->filterIndex, 1);
  EXPECT_EQ(filters,
            QStringList{"All Supported Files (*.jpg *.jpeg *.png *.gif *.bmp *.tif *.tiff)"});
  EXPECT_TRUE(anyFile);
  EXPECT_TRUE(nonNative);

  WhenModal([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
  EXPECT_FALSE(GetOpenFileName(nullptr, {{"All Supported Files", "*.jpg"}}));
}

// The detail list's Size, Type and Date columns are as wide as their texts
// ("623.1 KiB", "PNG image", the date), in the open and in the save dialog.
TEST(PromptsTest, FileDialogsShowTheDetailColumnsWhole) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  // Sizes of one to six digits before the unit, as a folder of pictures has.
  for (int i = 0; i < 12; ++i) {
    QFile file(dir.filePath(QStringLiteral("shot%1.png").arg(i)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(1000 + 63803 * i, 'x'));
  }
  for (bool save : {false, true}) {
    SCOPED_TRACE(save ? "save" : "open");
    std::vector<std::pair<int, int>> widthAndNeed;  // columns 1..3
    WhenModal([&](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      dialog->setDirectory(dir.path());
      auto* tree = dialog->findChild<QTreeView*>("treeView");
      ASSERT_NE(tree, nullptr);
      // As the dialog's state saved by another run may leave them.
      for (int column = 1; column <= 3; ++column) tree->header()->resizeSection(column, 30);
      auto* poll = new QTimer(dialog);
      poll->setInterval(20);
      QObject::connect(poll, &QTimer::timeout, [&, dialog, tree, poll] {
        const QAbstractItemModel* model = tree->model();
        const QModelIndex last = model->index(11, 0, tree->rootIndex());
        if (!last.isValid() || tree->visualRect(last).isEmpty()) return;
        poll->stop();
        // What a column needs: the widest of its cells, text and margins.
        for (int column = 1; column <= 3; ++column) {
          int need = 0;
          for (int row = 0; row < 12; ++row)
            need = std::max(
                need, tree->sizeHintForIndex(model->index(row, column, tree->rootIndex())).width());
          widthAndNeed.emplace_back(tree->header()->sectionSize(column), need);
        }
        static_cast<QDialog*>(dialog)->reject();
      });
      poll->start();
    });
    if (save)
      GetSaveFileName(nullptr, kSaveFilters, "photo_200percents", dir.path(), 4);
    else
      GetOpenFileName(nullptr, {{"All Supported Files", "*.png"}});
    ASSERT_EQ(widthAndNeed.size(), 3u);
    for (const auto& [width, need] : widthAndNeed) EXPECT_GE(width, need);
  }
}

TEST(PromptsTest, TheSaveDialogOffersFourTypesAndConfirmsOverwriting) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QString selectedFilter, proposed;
  int filterCount = 0;
  bool confirms = false;
  WhenModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    filterCount = static_cast<int>(dialog->nameFilters().size());
    selectedFilter = dialog->selectedNameFilter();
    confirms = !dialog->testOption(QFileDialog::DontConfirmOverwrite) &&
               dialog->acceptMode() == QFileDialog::AcceptSave;
    if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) proposed = name->text();
    dialog->setDirectory(dir.path());
    dialog->selectNameFilter(dialog->nameFilters().at(2));
    dialog->selectFile(dir.filePath("result"));
    static_cast<QDialog*>(dialog)->accept();
  });
  auto choice = GetSaveFileName(nullptr, kSaveFilters, "photo_200percents");
  ASSERT_TRUE(choice);
  EXPECT_EQ(filterCount, 4);
  EXPECT_EQ(selectedFilter, "JPEGs (*.jpg, *.jpeg)");
  EXPECT_EQ(proposed, "photo_200percents");
  EXPECT_TRUE(confirms);
  EXPECT_EQ(choice->filterIndex, 3);
  EXPECT_EQ(choice->path, dir.filePath("result"));
}

// Choosing another type in the save dialog leaves the name as it was, dots
// and quotes included, and the dialog starts where it is told to.
TEST(PromptsTest, TheSaveDialogKeepsTheNameThroughAChangeOfType) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const QString& name : {QStringLiteral("IMG_2020.01.05_200percents"),
                              QStringLiteral("say \"cheese\".v2_150percents")}) {
    QString afterChange, startFolder, startFilter;
    WhenModal([&](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      startFolder = dialog->directory().absolutePath();
      startFilter = dialog->selectedNameFilter();
      auto* combo = dialog->findChild<QComboBox*>("fileTypeCombo");
      ASSERT_NE(combo, nullptr);
      // As a choice in the list arrives: both of the box's signals.
      combo->setCurrentIndex(3);
      emit combo->activated(3);
      emit combo->textActivated(combo->itemText(3));
      afterChange = dialog->findChild<QLineEdit*>("fileNameEdit")->text();
      static_cast<QDialog*>(dialog)->accept();
    });
    auto choice = GetSaveFileName(nullptr, kSaveFilters, name, dir.path(), 2);
    EXPECT_EQ(startFolder, QDir(dir.path()).absolutePath());
    EXPECT_EQ(startFilter, "Bitmaps (*.bmp)");
    EXPECT_EQ(afterChange, name);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->path, QDir(dir.path()).filePath(name));
    EXPECT_EQ(choice->filterIndex, 4);
  }
}
