// The report-style list view and image lists: selection with wrap and scrolling, row
// height from the image list, owner drawing through the parent, sorting, item data and
// notifications.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/listview.h"
#include "platform/test_driver.h"
#include "platform/text.h"
#include "window_test_util.h"

namespace {

using platform::testdriver::DescribeScreen;
using platform::testdriver::PressKey;
using platform::testdriver::RunUntilIdle;

constexpr int kListId = 2003;

struct Note {
  UINT code;
  int item;
  UINT newState;
  UINT oldState;
  LPARAM param;
  WORD key;
};

class ListViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_test::SetUpWindowTest();
    platform::RegisterControlClasses();
    parent = window_test::MakeTop(u"Lists");
    SetForegroundWindow(parent);
    window_test::TheHook() = [this](HWND h, UINT m, WPARAM w, LPARAM l, LRESULT* r) {
      return OnParent(h, m, w, l, r);
    };
  }
  void TearDown() override {
    window_test::DestroyAll({list, parent});
    for (HIMAGELIST il : imageLists) ImageList_Destroy(il);
  }

  bool OnParent(HWND h, UINT m, WPARAM, LPARAM l, LRESULT* r) {
    if (h != parent) return false;
    if (m == WM_NOTIFY) {
      auto* hdr = reinterpret_cast<NMHDR*>(l);
      EXPECT_EQ(hdr->hwndFrom, list);
      EXPECT_EQ(hdr->idFrom, static_cast<UINT_PTR>(kListId));
      Note n{hdr->code, -1, 0, 0, 0, 0};
      if (hdr->code == LVN_KEYDOWN) {
        n.key = reinterpret_cast<NMLVKEYDOWN*>(l)->wVKey;
      } else if (hdr->code != NM_RETURN && hdr->code != NM_SETFOCUS && hdr->code != NM_KILLFOCUS) {
        auto* lv = reinterpret_cast<NMLISTVIEW*>(l);
        n.item = lv->iItem;
        n.newState = lv->uNewState;
        n.oldState = lv->uOldState;
        n.param = lv->lParam;
      }
      notes.push_back(n);
      if (onNotify) {
        *r = onNotify(n);
        return true;
      }
      return false;
    }
    if (m == WM_DRAWITEM) {
      draws.push_back(*reinterpret_cast<DRAWITEMSTRUCT*>(l));
      *r = TRUE;
      return true;
    }
    if (m == WM_MEASUREITEM && measuredHeight > 0) {
      reinterpret_cast<MEASUREITEMSTRUCT*>(l)->itemHeight = static_cast<UINT>(measuredHeight);
      *r = TRUE;
      return true;
    }
    return false;
  }

  HWND MakeList(DWORD style, int height) {
    list = CreateWindowEx(0, WC_LISTVIEW, u"", WS_CHILD | WS_VISIBLE | style, 0, 0, 176, height, parent,
                          reinterpret_cast<HMENU>(static_cast<std::intptr_t>(kListId)), nullptr, nullptr);
    return list;
  }

  HIMAGELIST RowHeightList(int cy) {
    HIMAGELIST il = ImageList_Create(30, cy, ILC_COLOR | ILC_MASK, 1, 1);
    imageLists.push_back(il);
    return il;
  }

  void AddColumn(int width) {
    LVCOLUMN c{LVCF_WIDTH, 0, width, nullptr, 0, 0};
    ASSERT_GE(SendMessage(list, LVM_INSERTCOLUMN, 0, reinterpret_cast<LPARAM>(&c)), 0);
  }

  int Insert(int at, const std::u16string& text, LPARAM data = 0, int image = -1) {
    std::u16string copy = text;
    LVITEM it{};
    it.mask = LVIF_TEXT | LVIF_PARAM | (image >= 0 ? LVIF_IMAGE : 0);
    it.iItem = at;
    it.pszText = copy.data();
    it.lParam = data;
    it.iImage = image;
    return static_cast<int>(SendMessage(list, LVM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&it)));
  }

  void Fill(int rows) {
    for (int i = 0; i < rows; ++i) Insert(i, u"row " + platform::Utf8ToUtf16(std::to_string(i)), 100 + i);
  }

  bool Select(int row) {
    LVITEM st{};
    st.state = st.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    return SendMessage(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&st)) != 0;
  }

  int Selected() {
    return static_cast<int>(SendMessage(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  }
  int Top() { return static_cast<int>(SendMessage(list, LVM_GETTOPINDEX, 0, 0)); }
  int Page() { return static_cast<int>(SendMessage(list, LVM_GETCOUNTPERPAGE, 0, 0)); }
  void Press(UINT vk, int times = 1) {
    for (int i = 0; i < times; ++i) {
      PressKey(vk);
      RunUntilIdle();
    }
  }
  std::u16string Text(int row, int column = 0) {
    WCHAR buf[64];
    LVITEM it{};
    it.iSubItem = column;
    it.pszText = buf;
    it.cchTextMax = 64;
    int n = static_cast<int>(
        SendMessage(list, LVM_GETITEMTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&it)));
    return std::u16string(buf, static_cast<std::size_t>(n));
  }
  std::vector<Note> Changes() {
    std::vector<Note> out;
    for (const Note& n : notes)
      if (n.code == LVN_ITEMCHANGED) out.push_back(n);
    notes.clear();
    return out;
  }

  HWND parent = nullptr;
  HWND list = nullptr;
  std::vector<HIMAGELIST> imageLists;
  std::vector<Note> notes;
  std::vector<DRAWITEMSTRUCT> draws;
  std::function<LRESULT(const Note&)> onNotify;
  int measuredHeight = 0;
};

TEST_F(ListViewTest, UpDownWrapAndTheTopRowFollows) {
  ASSERT_NE(MakeList(LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL, 100), nullptr);
  SendMessage(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(RowHeightList(20)));
  AddColumn(176);
  Fill(12);
  ASSERT_EQ(Page(), 5);
  ASSERT_TRUE(Select(0));
  SetFocus(list);
  RunUntilIdle();

  Press(VK_DOWN, 4);
  EXPECT_EQ(Selected(), 4);
  EXPECT_EQ(Top(), 0);
  Press(VK_DOWN);
  EXPECT_EQ(Selected(), 5);
  EXPECT_EQ(Top(), 1);  // scrolled by one row to keep the selection in view
  Press(VK_UP, 5);
  EXPECT_EQ(Selected(), 0);
  EXPECT_EQ(Top(), 0);
  Press(VK_UP);  // wraps to the last row, which comes into view at the bottom
  EXPECT_EQ(Selected(), 11);
  EXPECT_EQ(Top(), 7);
  EXPECT_EQ(SendMessage(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED), 11);
  EXPECT_EQ(SendMessage(list, LVM_GETSELECTEDCOUNT, 0, 0), 1);
  Press(VK_DOWN);  // and back round to the first
  EXPECT_EQ(Selected(), 0);
  EXPECT_EQ(Top(), 0);

  // Page keys move by a page and stop at the ends.
  Press(0x22);
  EXPECT_EQ(Selected(), 5);
  Press(0x22, 3);
  EXPECT_EQ(Selected(), 11);
  EXPECT_EQ(Top(), 7);
  Press(0x21, 4);
  EXPECT_EQ(Selected(), 0);

  // The screen description lists rows, the selected row and the top row.
  std::string screen = DescribeScreen();
  EXPECT_NE(screen.find("listview count=12 sel=0 focus=0 top=0 page=5 rowheight=20 scrollbar"),
            std::string::npos)
      << screen;
  EXPECT_NE(screen.find("row 0 \"row 0\" selected focused visible"), std::string::npos) << screen;
  EXPECT_NE(screen.find("row 11 \"row 11\"\n"), std::string::npos) << screen;
}

TEST_F(ListViewTest, EnsureVisibleScrollsOnlyAsFarAsNeeded) {
  ASSERT_NE(MakeList(LVS_REPORT | LVS_NOCOLUMNHEADER, 100), nullptr);
  SendMessage(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(RowHeightList(20)));
  Fill(20);
  EXPECT_TRUE(SendMessage(list, LVM_ENSUREVISIBLE, 12, FALSE));
  EXPECT_EQ(Top(), 8);
  EXPECT_TRUE(SendMessage(list, LVM_ENSUREVISIBLE, 10, FALSE));
  EXPECT_EQ(Top(), 8);  // already visible
  EXPECT_TRUE(SendMessage(list, LVM_ENSUREVISIBLE, 3, FALSE));
  EXPECT_EQ(Top(), 3);
  EXPECT_FALSE(SendMessage(list, LVM_ENSUREVISIBLE, 20, FALSE));
  EXPECT_FALSE(SendMessage(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(-1), FALSE));
  RECT rc{LVIR_BOUNDS, 0, 0, 0};
  ASSERT_TRUE(SendMessage(list, LVM_GETITEMRECT, 5, reinterpret_cast<LPARAM>(&rc)));
  EXPECT_EQ(rc.top, 40);
  EXPECT_EQ(rc.bottom, 60);
  EXPECT_EQ(rc.right, 176 - platform::kListViewScrollBarWidth);
  rc = RECT{LVIR_BOUNDS, 0, 0, 0};
  ASSERT_TRUE(SendMessage(list, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&rc)));
  EXPECT_EQ(rc.top, -40);  // above the page
  EXPECT_FALSE(SendMessage(list, LVM_GETITEMRECT, 20, reinterpret_cast<LPARAM>(&rc)));
  EXPECT_FALSE(SendMessage(list, LVM_GETITEMRECT, 2, 0));
}

TEST_F(ListViewTest, ImageListHeightSetsTheRowsPerPage) {
  // One fifth of the client height less one pixel gives five whole rows, as the folder
  // view does.
  ASSERT_NE(MakeList(LVS_REPORT | LVS_NOCOLUMNHEADER, 150), nullptr);
  int textRows = Page();
  EXPECT_GT(textRows, 5);  // a text line is lower than the images
  HIMAGELIST il = RowHeightList(150 / 5 - 1);
  EXPECT_EQ(SendMessage(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(il)), 0);
  EXPECT_EQ(Page(), 5);
  EXPECT_EQ(SendMessage(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0), reinterpret_cast<LRESULT>(il));
  // The owner may free its list once set; the rows keep their height.
  ImageList_Destroy(il);
  imageLists.clear();
  EXPECT_EQ(Page(), 5);
  SendMessage(list, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
  EXPECT_EQ(Page(), textRows);

  // A column header takes its band off the top.
  DestroyWindow(list);
  ASSERT_NE(MakeList(LVS_REPORT, 150), nullptr);
  SendMessage(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(RowHeightList(29)));
  EXPECT_EQ(Page(), 5);
  AddColumn(100);
  EXPECT_EQ(Page(), 4);
}

TEST_F(ListViewTest, OwnerDrawReachesTheParentWithItemAndState) {
  measuredHeight = 25;
  ASSERT_NE(MakeList(LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_OWNERDRAWFIXED | LVS_SINGLESEL, 100), nullptr);
  EXPECT_EQ(Page(), 4);  // 100 / 25: the parent's measure wins
  AddColumn(176);
  Fill(10);
  ASSERT_TRUE(Select(6));
  SendMessage(list, LVM_ENSUREVISIBLE, 6, FALSE);
  SetFocus(list);
  RunUntilIdle();
  draws.clear();
  InvalidateRect(list, nullptr, TRUE);
  UpdateWindow(list);
  // Rows 3..6 fill the page.
  ASSERT_EQ(draws.size(), 4u);
  for (std::size_t i = 0; i < draws.size(); ++i) {
    const DRAWITEMSTRUCT& d = draws[i];
    EXPECT_EQ(d.CtlType, ODT_LISTVIEW);
    EXPECT_EQ(d.CtlID, static_cast<UINT>(kListId));
    EXPECT_EQ(d.itemID, 3 + i);
    EXPECT_EQ(d.itemAction, ODA_DRAWENTIRE);
    EXPECT_EQ(d.hwndItem, list);
    EXPECT_EQ(d.itemData, 103 + i);
    EXPECT_EQ(d.rcItem.top, static_cast<LONG>(i) * 25);
    EXPECT_EQ(d.rcItem.bottom, static_cast<LONG>(i + 1) * 25);
    EXPECT_EQ(d.itemState, d.itemID == 6 ? (ODS_SELECTED | ODS_FOCUS) : 0u);
  }
  // Without the focus the selected row is still reported selected, not focused.
  SetFocus(parent);
  RunUntilIdle();
  draws.clear();
  InvalidateRect(list, nullptr, TRUE);
  UpdateWindow(list);
  ASSERT_EQ(draws.size(), 4u);
  EXPECT_EQ(draws[3].itemState, ODS_SELECTED);
}

int CALLBACK_Descending(LPARAM a, LPARAM b, LPARAM sortParam) {
  EXPECT_EQ(sortParam, 77);
  return a > b ? -1 : a < b ? 1 : 0;
}

TEST_F(ListViewTest, SortingByCallbackAndByRowText) {
  ASSERT_NE(MakeList(LVS_REPORT | LVS_NOCOLUMNHEADER, 100), nullptr);
  Fill(5);
  ASSERT_TRUE(Select(1));
  EXPECT_TRUE(SendMessage(list, LVM_SORTITEMS, 77, reinterpret_cast<LPARAM>(&CALLBACK_Descending)));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Text(i), u"row " + platform::Utf8ToUtf16(std::to_string(4 - i)));
  EXPECT_EQ(Selected(), 3);  // the selection moves with its row
  EXPECT_FALSE(SendMessage(list, LVM_SORTITEMS, 0, 0));

  DestroyWindow(list);
  ASSERT_NE(MakeList(LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SORTASCENDING, 100), nullptr);
  EXPECT_EQ(Insert(0, u"pear"), 0);
  EXPECT_EQ(Insert(0, u"Zoe"), 1);
  EXPECT_EQ(Insert(5, u"apple"), 0);
  EXPECT_EQ(Insert(0, u"Banana"), 1);
  EXPECT_EQ(Insert(0, u"banana"), 2);  // equal texts keep their order of insertion
  std::vector<std::u16string> want = {u"apple", u"Banana", u"banana", u"pear", u"Zoe"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Text(i), want[static_cast<std::size_t>(i)]);
}

TEST_F(ListViewTest, ItemsRoundTripTextImageDataAndSubItems) {
  ASSERT_NE(MakeList(LVS_REPORT, 100), nullptr);
  AddColumn(100);
  LVCOLUMN second{LVCF_WIDTH | LVCF_FMT, LVCFMT_RIGHT, 60, nullptr, 0, 0};
  EXPECT_EQ(SendMessage(list, LVM_INSERTCOLUMN, 1, reinterpret_cast<LPARAM>(&second)), 1);
  EXPECT_EQ(Insert(0, u"first", 0x7FFF1234, 3), 0);
  EXPECT_EQ(Insert(99, u"second", -5), 1);  // past the end appends
  LVITEM sub{};
  WCHAR size[] = u"12 KB";
  sub.iSubItem = 1;
  sub.pszText = size;
  EXPECT_TRUE(SendMessage(list, LVM_SETITEMTEXT, 0, reinterpret_cast<LPARAM>(&sub)));
  EXPECT_EQ(Text(0, 1), u"12 KB");
  EXPECT_EQ(Text(1, 1), u"");

  LVITEM get{};
  WCHAR buf[4];
  get.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE | LVIF_STATE;
  get.iItem = 0;
  get.pszText = buf;
  get.cchTextMax = 4;
  get.stateMask = LVIS_SELECTED;
  ASSERT_TRUE(SendMessage(list, LVM_GETITEM, 0, reinterpret_cast<LPARAM>(&get)));
  EXPECT_EQ(std::u16string(buf), u"fir");  // cut to the buffer, terminated
  EXPECT_EQ(get.lParam, 0x7FFF1234);
  EXPECT_EQ(get.iImage, 3);
  EXPECT_EQ(get.state, 0u);

  LVITEM set{};
  set.mask = LVIF_PARAM | LVIF_TEXT;
  set.iItem = 1;
  WCHAR renamed[] = u"renamed";
  set.pszText = renamed;
  set.lParam = 42;
  EXPECT_TRUE(SendMessage(list, LVM_SETITEM, 0, reinterpret_cast<LPARAM>(&set)));
  get.iItem = 1;
  get.mask = LVIF_PARAM;
  ASSERT_TRUE(SendMessage(list, LVM_GETITEM, 0, reinterpret_cast<LPARAM>(&get)));
  EXPECT_EQ(get.lParam, 42);
  EXPECT_EQ(Text(1), u"renamed");
  EXPECT_EQ(SendMessage(list, LVM_GETCOLUMNWIDTH, 1, 0), 60);
  EXPECT_TRUE(
      SendMessage(list, LVM_SETCOLUMNWIDTH, 1, MAKELPARAM(static_cast<WORD>(LVSCW_AUTOSIZE_USEHEADER), 0)));
  EXPECT_EQ(SendMessage(list, LVM_GETCOLUMNWIDTH, 1, 0), 76);  // the rest of the row

  // Bad requests fail without touching anything.
  EXPECT_EQ(SendMessage(list, LVM_INSERTITEM, 0, 0), -1);
  set.iItem = 7;
  EXPECT_FALSE(SendMessage(list, LVM_SETITEM, 0, reinterpret_cast<LPARAM>(&set)));
  get.iItem = -1;
  EXPECT_FALSE(SendMessage(list, LVM_GETITEM, 0, reinterpret_cast<LPARAM>(&get)));
  LVITEM callback{};
  callback.mask = LVIF_TEXT;
  callback.iItem = 2;
  callback.pszText = LPSTR_TEXTCALLBACK;
  EXPECT_EQ(SendMessage(list, LVM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&callback)), 2);
  EXPECT_EQ(Text(2), u"");
  EXPECT_EQ(SendMessage(list, LVM_GETITEMCOUNT, 0, 0), 3);
}

TEST_F(ListViewTest, DeletingRowsKeepsSelectionAndTopConsistent) {
  ASSERT_NE(MakeList(LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL, 100), nullptr);
  SendMessage(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(RowHeightList(20)));
  Fill(10);
  ASSERT_TRUE(Select(9));
  SendMessage(list, LVM_ENSUREVISIBLE, 9, FALSE);
  EXPECT_EQ(Top(), 5);
  EXPECT_TRUE(SendMessage(list, LVM_DELETEITEM, 2, 0));
  EXPECT_EQ(Selected(), 8);  // moved up with its row
  EXPECT_EQ(Top(), 4);
  EXPECT_FALSE(SendMessage(list, LVM_DELETEITEM, 9, 0));
  EXPECT_TRUE(SendMessage(list, LVM_DELETEITEM, 8, 0));  // the selected row itself
  EXPECT_EQ(Selected(), -1);
  EXPECT_EQ(Top(), 3);  // the page stays full

  notes.clear();
  EXPECT_TRUE(SendMessage(list, LVM_DELETEALLITEMS, 0, 0));
  EXPECT_EQ(SendMessage(list, LVM_GETITEMCOUNT, 0, 0), 0);
  EXPECT_EQ(Selected(), -1);
  EXPECT_EQ(Top(), 0);
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes[0].code, LVN_DELETEALLITEMS);
  // An empty list ignores the arrows; the next fill starts at the top.
  SetFocus(list);
  Press(VK_DOWN);
  EXPECT_EQ(Selected(), -1);
  Fill(3);
  EXPECT_EQ(Top(), 0);
  Press(VK_DOWN);
  EXPECT_EQ(Selected(), 0);
}

TEST_F(ListViewTest, NotificationsOnSelectionKeysAndActivation) {
  ASSERT_NE(MakeList(LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL, 100), nullptr);
  Fill(3);
  ASSERT_TRUE(Select(0));
  SetFocus(list);
  RunUntilIdle();
  notes.clear();

  Press(VK_DOWN);
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes[0].code, LVN_KEYDOWN);
  EXPECT_EQ(notes[0].key, VK_DOWN);
  auto changes = Changes();
  // Row 0 loses the selection and focus, row 1 gains them, with the row data.
  ASSERT_GE(changes.size(), 2u);
  EXPECT_EQ(changes.front().item, 0);
  EXPECT_EQ(changes.front().oldState & LVIS_SELECTED, LVIS_SELECTED);
  EXPECT_EQ(changes.front().newState & LVIS_SELECTED, 0u);
  EXPECT_EQ(changes.back().item, 1);
  EXPECT_EQ(changes.back().newState, LVIS_SELECTED | LVIS_FOCUSED);
  EXPECT_EQ(changes.back().param, 101);

  std::vector<UINT> codes;
  Press(VK_RETURN);
  for (const Note& n : notes) codes.push_back(n.code);
  EXPECT_EQ(codes, (std::vector<UINT>{LVN_KEYDOWN, LVN_ITEMACTIVATE, NM_RETURN}));
  EXPECT_EQ(notes[1].item, 1);
  notes.clear();

  // The parent may refuse a change.
  onNotify = [](const Note& n) -> LRESULT { return n.code == LVN_ITEMCHANGING && n.item == 2 ? TRUE : 0; };
  Press(VK_DOWN);
  EXPECT_EQ(SendMessage(list, LVM_GETITEMSTATE, 2, LVIS_SELECTED), 0);
  onNotify = nullptr;
  Press(VK_DOWN);
  EXPECT_EQ(Selected(), 0);  // row 2 was skipped, so Down from nothing selected wraps to row 0
}

TEST_F(ListViewTest, ATapSelectsTheRowAndNotifiesTheClick) {
  ASSERT_NE(MakeList(LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL, 100), nullptr);
  SendMessage(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(RowHeightList(20)));
  Fill(8);
  ASSERT_TRUE(Select(0));
  RunUntilIdle();
  notes.clear();
  POINT pt{10, 45};  // row 2
  ClientToScreen(list, &pt);
  platform::testdriver::Click(pt.x, pt.y);
  RunUntilIdle();
  EXPECT_EQ(Selected(), 2);
  EXPECT_EQ(GetFocus(), list);
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes.back().code, NM_CLICK);
  EXPECT_EQ(notes.back().item, 2);
  // A tap below the last row changes nothing; clearing every row's selection at once works.
  DestroyWindow(list);
  ASSERT_NE(MakeList(LVS_REPORT | LVS_NOCOLUMNHEADER, 100), nullptr);
  Fill(2);
  LVITEM all{};
  all.state = all.stateMask = LVIS_SELECTED;
  EXPECT_TRUE(SendMessage(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&all)));
  EXPECT_EQ(SendMessage(list, LVM_GETSELECTEDCOUNT, 0, 0), 2);
  pt = POINT{10, 90};
  ClientToScreen(list, &pt);
  platform::testdriver::Click(pt.x, pt.y);
  RunUntilIdle();
  EXPECT_EQ(SendMessage(list, LVM_GETSELECTEDCOUNT, 0, 0), 2);
  all.state = 0;
  EXPECT_TRUE(SendMessage(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&all)));
  EXPECT_EQ(Selected(), -1);
}

TEST_F(ListViewTest, AParentThatDestroysTheListInANotificationIsSafe) {
  ASSERT_NE(MakeList(LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_OWNERDRAWFIXED, 100), nullptr);
  Fill(4);
  ASSERT_TRUE(Select(0));
  SetFocus(list);
  RunUntilIdle();
  onNotify = [this](const Note& n) -> LRESULT {
    if (n.code == LVN_ITEMCHANGED && IsWindow(list)) DestroyWindow(list);
    return 0;
  };
  Press(VK_DOWN);
  EXPECT_FALSE(IsWindow(list));
  onNotify = nullptr;
}

int CALLBACK_ByData(LPARAM a, LPARAM b, LPARAM) {
  return a < b ? -1 : a > b ? 1 : 0;
}

// Random operations, many with indexes out of range, keep the list consistent: the top
// row stays within range and a single-selection list never has two selected rows.
TEST_F(ListViewTest, RandomOperationsKeepTheListConsistent) {
  ASSERT_NE(MakeList(LVS_REPORT | LVS_SINGLESEL | LVS_SORTASCENDING, 100), nullptr);
  SendMessage(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(RowHeightList(18)));
  AddColumn(90);
  AddColumn(60);
  SetFocus(list);
  std::mt19937 rng(20261208);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int step = 0; step < 3000; ++step) {
    int count = static_cast<int>(SendMessage(list, LVM_GETITEMCOUNT, 0, 0));
    int row = pick(-2, count + 1);
    switch (pick(0, 11)) {
      case 0:
      case 1:
        Insert(row, u"item " + platform::Utf8ToUtf16(std::to_string(pick(0, 99))), pick(0, 1000),
               pick(-1, 3));
        break;
      case 2:
        SendMessage(list, LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
        break;
      case 3:
        if (pick(0, 20) == 0) SendMessage(list, LVM_DELETEALLITEMS, 0, 0);
        break;
      case 4: {
        LVITEM st{};
        st.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        st.state = static_cast<UINT>(pick(0, 3));
        SendMessage(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&st));
        break;
      }
      case 5:
        SendMessage(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
        break;
      case 6: {
        static const UINT keys[] = {VK_UP, VK_DOWN, 0x21, 0x22, 0x23, 0x24, VK_RETURN};
        PressKey(keys[pick(0, 6)]);
        RunUntilIdle();
        break;
      }
      case 7:
        SendMessage(list, LVM_SORTITEMS, 0, reinterpret_cast<LPARAM>(&CALLBACK_ByData));
        break;
      case 8: {
        WCHAR buf[3];
        LVITEM it{};
        it.iSubItem = pick(-1, 3);
        it.pszText = buf;
        it.cchTextMax = pick(0, 3);
        SendMessage(list, LVM_GETITEMTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&it));
        std::u16string text = u"sub";
        it.pszText = text.data();
        SendMessage(list, LVM_SETITEMTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&it));
        break;
      }
      case 9: {
        RECT rc{pick(0, 4), 0, 0, 0};
        SendMessage(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rc));
        SendMessage(list, LVM_SCROLL, 0, pick(-100, 100));
        break;
      }
      case 10:
        SendMessage(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(pick(-1, 2)),
                    MAKELPARAM(static_cast<WORD>(pick(-2, 200)), 0));
        break;
      default:
        InvalidateRect(list, nullptr, TRUE);
        UpdateWindow(list);
        break;
    }
    count = static_cast<int>(SendMessage(list, LVM_GETITEMCOUNT, 0, 0));
    ASSERT_GE(Top(), 0) << "step " << step;
    ASSERT_LE(Top(), std::max(0, count - Page())) << "step " << step;
    ASSERT_LE(SendMessage(list, LVM_GETSELECTEDCOUNT, 0, 0), 1) << "step " << step;
  }
}

std::vector<int>& DialogCommands() {
  static std::vector<int> commands;
  return commands;
}

BOOL ListDialogProc(HWND h, UINT msg, WPARAM w, LPARAM) {
  if (msg == WM_INITDIALOG) {
    for (int i = 0; i < 3; ++i) {
      std::u16string text = u"contact " + platform::Utf8ToUtf16(std::to_string(i));
      LVITEM it{};
      it.mask = LVIF_TEXT;
      it.iItem = i;
      it.pszText = text.data();
      SendDlgItemMessage(h, kListId, LVM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&it));
    }
    return TRUE;
  }
  if (msg == WM_COMMAND) {
    DialogCommands().push_back(LOWORD(w));
    return TRUE;
  }
  return FALSE;
}

TEST(ListViewInDialog, ArrowsStayInTheListAndTheActionKeyIsIdok) {
  window_test::SetUpWindowTest();
  DialogCommands().clear();
  platform::DialogTemplate t;
  t.style = WS_POPUP | WS_VISIBLE;
  t.cx = 176;
  t.cy = 172;
  platform::DialogControl lv;
  lv.className = WC_LISTVIEW;
  lv.id = kListId;
  lv.style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL;
  lv.cx = 176;
  lv.cy = 100;
  t.controls.push_back(lv);
  platform::DialogControl edit = lv;
  edit.className = u"EDIT";
  edit.id = 1090;
  edit.style = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
  edit.y = 110;
  edit.cy = 16;
  t.controls.push_back(edit);
  HWND dlg = platform::CreateDialogFromTemplate(nullptr, t, nullptr, ListDialogProc, 0);
  ASSERT_NE(dlg, nullptr);
  RunUntilIdle();
  HWND list = GetDlgItem(dlg, kListId);
  ASSERT_EQ(GetFocus(), list);
  PressKey(VK_DOWN);
  RunUntilIdle();
  PressKey(VK_DOWN);
  RunUntilIdle();
  EXPECT_EQ(GetFocus(), list);  // the arrows moved the selection, not the focus
  EXPECT_EQ(SendMessage(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 1);
  PressKey(VK_TACTION);
  RunUntilIdle();
  EXPECT_EQ(DialogCommands(), std::vector<int>{IDOK});
  std::string screen = DescribeScreen();
  EXPECT_NE(screen.find("class=SysListView32 id=2003"), std::string::npos) << screen;
  EXPECT_NE(screen.find("row 1 \"contact 1\" selected focused visible"), std::string::npos) << screen;
  DestroyWindow(dlg);
  RunUntilIdle();
}

HBITMAP Strip(int w, int h, std::uint32_t background, std::uint32_t dot) {
  std::vector<std::uint32_t> px(static_cast<std::size_t>(w) * h, background);
  // One dot per 8-pixel cell, at (cell + 3, 3).
  for (int x = 3; x < w; x += 8) px[static_cast<std::size_t>(3) * w + x] = dot;
  return platform::CreateBitmapFromArgb(w, h, px.data());
}

TEST(ImageLists, AddMaskedSplitsTheStripAndDrawsTransparently) {
  HIMAGELIST il = ImageList_Create(8, 8, ILC_COLOR16 | ILC_MASK, 4, 4);
  ASSERT_NE(il, nullptr);
  HBITMAP strip = Strip(24, 8, 0xFF00FF, 0x0000FF);
  EXPECT_EQ(ImageList_AddMasked(il, strip, RGB(255, 0, 255)), 0);
  EXPECT_EQ(ImageList_GetImageCount(il), 3);
  int cx = 0, cy = 0;
  EXPECT_TRUE(ImageList_GetIconSize(il, &cx, &cy));
  EXPECT_EQ(cx, 8);
  EXPECT_EQ(cy, 8);

  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP canvas = CreateCompatibleBitmap(dc, 16, 16);
  HGDIOBJ old = SelectObject(dc, canvas);
  RECT all{0, 0, 16, 16};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  EXPECT_TRUE(ImageList_Draw(il, 2, dc, 4, 4, ILD_TRANSPARENT));
  EXPECT_EQ(GetPixel(dc, 7, 7), RGB(0, 0, 255));      // the dot
  EXPECT_EQ(GetPixel(dc, 5, 5), RGB(255, 255, 255));  // the masked background
  EXPECT_FALSE(ImageList_Draw(il, 3, dc, 0, 0, ILD_NORMAL));

  // An icon is copied in with its transparency.
  std::vector<std::uint32_t> argb(64, 0);
  argb[0] = 0xFF00FF00;
  HICON icon = platform::CreateIconFromArgb(8, 8, argb.data());
  EXPECT_EQ(ImageList_AddIcon(il, icon), 3);
  DestroyIcon(icon);  // the list keeps its own copy
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  EXPECT_TRUE(ImageList_Draw(il, 3, dc, 0, 0, ILD_NORMAL));
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 255, 0));
  EXPECT_EQ(GetPixel(dc, 1, 0), RGB(0, 0, 0));
  EXPECT_TRUE(ImageList_Remove(il, 0));
  EXPECT_EQ(ImageList_GetImageCount(il), 3);
  EXPECT_TRUE(ImageList_Remove(il, -1));
  EXPECT_EQ(ImageList_GetImageCount(il), 0);

  SelectObject(dc, old);
  DeleteObject(canvas);
  DeleteDC(dc);
  DeleteObject(strip);
  EXPECT_TRUE(ImageList_Destroy(il));
  EXPECT_FALSE(ImageList_Destroy(il));  // a second destroy is refused, not a double free
}

TEST(ImageLists, BadArgumentsFail) {
  EXPECT_EQ(ImageList_Create(0, 8, ILC_COLOR, 1, 1), nullptr);
  EXPECT_EQ(ImageList_Create(8, 5000, ILC_COLOR, 1, 1), nullptr);
  HIMAGELIST il = ImageList_Create(16, 16, ILC_COLOR, 1, 1);
  HBITMAP narrow = Strip(8, 8, 0, 0);
  EXPECT_EQ(ImageList_Add(il, narrow, nullptr), -1);  // narrower than one image
  EXPECT_EQ(ImageList_Add(il, nullptr, nullptr), -1);
  EXPECT_EQ(ImageList_AddIcon(il, nullptr), -1);
  EXPECT_EQ(ImageList_ReplaceIcon(il, 5, nullptr), -1);
  EXPECT_FALSE(ImageList_Remove(il, 0));
  EXPECT_FALSE(ImageList_Draw(nullptr, 0, nullptr, 0, 0, 0));
  EXPECT_EQ(ImageList_GetImageCount(nullptr), 0);
  DeleteObject(narrow);
  ImageList_Destroy(il);
}

}  // namespace
