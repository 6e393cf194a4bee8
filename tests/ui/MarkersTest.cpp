#include "ui/Markers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace varnix {
namespace {

// A list that counts its notifications.
struct TCountedList {
  TCountedList() {
    List.OnChange = [this](TObject* Sender) {
      EXPECT_EQ(Sender, &List);
      ++Notifications;
    };
  }
  int Take() { return std::exchange(Notifications, 0); }
  int SelectedCount() const {
    int N = 0;
    for (int32_t i = 0; i < List.GetCount(); ++i) N += List.GetMarker(i)->Selected();
    return N;
  }
  TSelectionMarkerList List;
  int Notifications = 0;
};

std::string Bytes(std::initializer_list<int> Values) {
  std::string S;
  for (int V : Values) S += static_cast<char>(V);
  return S;
}

const std::string Header = "TQWSHMRK" + Bytes({1, 0, 0, 0});

std::string FileWithCount(int32_t Count) {
  std::string S = Header;
  for (int i = 0; i < 4; ++i) S += static_cast<char>((static_cast<uint32_t>(Count) >> (8 * i)) & 0xFF);
  return S;
}

void Load(TSelectionMarkerList& List, const std::string& Data) {
  std::istringstream In(Data);
  List.LoadFromStream(In);
}

TEST(SelectionMarker, DistanceIsChessboardAndSettersNotifyOnlyOnChange) {
  TSelectionMarker Marker;
  int Changes = 0;
  Marker.OnChange = [&](TObject* Sender) {
    EXPECT_EQ(Sender, &Marker);
    ++Changes;
  };
  Marker.SetPosition(Point(7, 14));
  EXPECT_EQ(Marker.DistanceFrom(Point(10, 10)), 4);
  EXPECT_EQ(Marker.DistanceFrom(Point(7, 14)), 0);
  Marker.SetPosition(Point(7, 14));
  Marker.SetMarkerType(mtObject);
  Marker.SetSelected(true);
  Marker.Drag(0, 0);
  EXPECT_EQ(Changes, 1) << "only the first SetPosition changed anything";
  Marker.SetMarkerType(mtBackground);
  Marker.Drag(-2, 1);
  EXPECT_EQ(Changes, 3);
  EXPECT_EQ(Marker.Position(), Point(5, 15));
  // Far-apart points saturate instead of overflowing.
  Marker.SetPosition(Point(-2000000000, 0));
  EXPECT_EQ(Marker.DistanceFrom(Point(2000000000, 0)), 0x7FFFFFFF);
}

TEST(SelectionMarkerList, EditingOperationsNotifyAsDocumented) {
  TCountedList L;
  EXPECT_EQ(L.List.Add(Point(1, 1), mtObject), 0);
  EXPECT_EQ(L.Take(), 1);
  EXPECT_EQ(L.List.Add(Point(5, 5), mtBackground), 1);
  EXPECT_EQ(L.List.Add(Point(9, 9), mtObject), 2);
  EXPECT_EQ(L.Take(), 2);
  EXPECT_EQ(L.SelectedCount(), 1);
  EXPECT_TRUE(L.List.GetMarker(2)->Selected());

  L.List.Select(0);
  L.List.Deselect();
  L.List.GetMarker(1)->SetSelected(true);
  EXPECT_EQ(L.Take(), 0) << "selection never notifies";

  L.List.Select(1);
  EXPECT_EQ(L.SelectedCount(), 1);
  L.List.DeleteSelected();
  EXPECT_EQ(L.Take(), 1);
  EXPECT_EQ(L.List.GetCount(), 2);
  L.List.DeleteSelected();
  EXPECT_EQ(L.Take(), 0) << "nothing was selected";

  for (int32_t i = 0; i < L.List.GetCount(); ++i) L.List.GetMarker(i)->SetSelected(true);
  L.List.Add(Point(3, 3), mtObject);
  L.Take();
  for (int32_t i = 0; i < L.List.GetCount(); ++i) L.List.GetMarker(i)->SetSelected(true);
  L.List.Drag(0, 0);
  EXPECT_EQ(L.Take(), 0);
  L.List.Drag(1, 0);
  EXPECT_EQ(L.Take(), 1) << "three moved markers fold into one notification";
  EXPECT_EQ(L.List.GetMarker(2)->Position(), Point(4, 3));

  L.List.GetMarker(0)->SetMarkerType(mtBackground);
  EXPECT_EQ(L.Take(), 1) << "a marker's own change reaches the list";
  L.List.Delete(0);
  EXPECT_EQ(L.Take(), 1);
  L.List.Clear();
  EXPECT_EQ(L.Take(), 1);
  L.List.Clear();
  EXPECT_EQ(L.Take(), 1) << "Clear always notifies";
  EXPECT_EQ(L.List.GetCount(), 0);
}

TEST(SelectionMarkerList, FindPrefersTheEarlierMarkerOnTies) {
  TCountedList L;
  int32_t Index = 0, Distance = 0;
  L.List.Find(Point(0, 0), Index, Distance);
  EXPECT_EQ(Index, -1);
  EXPECT_EQ(Distance, 0x7FFFFFFF);
  const TPoint Positions[] = {{50, 50}, {40, 0}, {10, 13}, {30, 30}, {-20, -20}, {10, 7}};
  for (TPoint P : Positions) L.List.Add(P, mtObject);
  L.List.Find(Point(10, 10), Index, Distance);
  EXPECT_EQ(Index, 2);
  EXPECT_EQ(Distance, 3);
}

TEST(MarkersFile, SavesTheDocumentedBytes) {
  TCountedList L;
  std::ostringstream Empty;
  L.List.SaveToStream(Empty);
  EXPECT_EQ(Empty.str(), FileWithCount(0));

  L.List.Add(Point(3, 4), mtObject);
  L.List.Add(Point(-1, 70000), mtBackground);
  std::ostringstream Out;
  L.List.SaveToStream(Out);
  EXPECT_EQ(Out.str(), FileWithCount(2) + Bytes({3, 0, 0, 0, 4, 0, 0, 0, 0}) +
                           Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00, 0x01}));
  EXPECT_EQ(Out.str().size(), 34u);

  TCountedList Copy;
  Load(Copy.List, Out.str());
  EXPECT_EQ(Copy.Take(), 1);
  ASSERT_EQ(Copy.List.GetCount(), 2);
  EXPECT_EQ(Copy.List.GetMarker(0)->Position(), Point(3, 4));
  EXPECT_EQ(Copy.List.GetMarker(0)->MarkerType(), mtObject);
  EXPECT_EQ(Copy.List.GetMarker(1)->Position(), Point(-1, 70000));
  EXPECT_EQ(Copy.List.GetMarker(1)->MarkerType(), mtBackground);
  EXPECT_EQ(Copy.SelectedCount(), 1);
  EXPECT_TRUE(Copy.List.GetMarker(1)->Selected()) << "the last loaded marker is the selected one";
}

TEST(MarkersFile, EmptyOrNegativeCountEmptiesTheListWithOneNotification) {
  for (int32_t Count : {0, -5}) {
    SCOPED_TRACE(Count);
    TCountedList L;
    L.List.Add(Point(1, 2), mtObject);
    L.Take();
    Load(L.List, FileWithCount(Count));
    EXPECT_EQ(L.Take(), 1);
    EXPECT_EQ(L.List.GetCount(), 0);
  }
}

TEST(MarkersFile, InvalidFilesLeaveTheListUntouched) {
  const std::string OneRecord = Bytes({3, 0, 0, 0, 4, 0, 0, 0, 0});
  struct TCase {
    const char* Name;
    std::string Data;
  };
  const TCase Cases[] = {
      {"version 2", "TQWSHMRK" + Bytes({2, 0, 0, 0, 1, 0, 0, 0}) + OneRecord},
      {"other magic", "TQWSHMRX" + Bytes({1, 0, 0, 0, 1, 0, 0, 0}) + OneRecord},
      {"zero inside magic", "TQWS" + Bytes({0}) + "MRK" + Bytes({1, 0, 0, 0, 1, 0, 0, 0}) + OneRecord},
      {"type byte 2 in the second record", FileWithCount(2) + OneRecord + Bytes({1, 0, 0, 0, 1, 0, 0, 0, 2})},
      {"type byte 255", FileWithCount(1) + Bytes({1, 0, 0, 0, 1, 0, 0, 0, 255})},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TCountedList L;
    L.List.Add(Point(8, 9), mtBackground);
    L.Take();
    try {
      Load(L.List, C.Data);
      FAIL() << "no exception";
    } catch (const EMarkersFileError& E) {
      EXPECT_EQ(E.Message(), "Invalid file format");
    }
    EXPECT_EQ(L.Take(), 0);
    ASSERT_EQ(L.List.GetCount(), 1);
    EXPECT_EQ(L.List.GetMarker(0)->Position(), Point(8, 9));
  }
}

TEST(MarkersFile, ShortFilesRaiseReadErrors) {
  {
    TCountedList L;
    L.List.Add(Point(8, 9), mtBackground);
    L.Take();
    try {
      Load(L.List, "TQWSHMRK" + Bytes({1, 0}));
      FAIL() << "no exception";
    } catch (const EReadError& E) {
      EXPECT_EQ(E.Message(), "Stream read error: the markers file header is incomplete");
    }
    EXPECT_EQ(L.Take(), 0);
    EXPECT_EQ(L.List.GetCount(), 1);
  }
  {
    // Three announced, one and a half present; a huge count must not be trusted for allocation.
    for (int32_t Count : {3, 0x7FFFFFFF}) {
      SCOPED_TRACE(Count);
      TCountedList L;
      L.List.Add(Point(8, 9), mtBackground);
      L.Take();
      try {
        Load(L.List, FileWithCount(Count) + Bytes({3, 0, 0, 0, 4, 0, 0, 0, 1, 5, 0, 0}));
        FAIL() << "no exception";
      } catch (const EReadError& E) {
        EXPECT_NE(E.Message().find("announces " + std::to_string(Count) + " markers but holds only 1"), std::string::npos)
            << E.Message();
      }
      EXPECT_EQ(L.Take(), 1);
      ASSERT_EQ(L.List.GetCount(), 1);
      EXPECT_EQ(L.List.GetMarker(0)->Position(), Point(3, 4));
      EXPECT_EQ(L.List.GetMarker(0)->MarkerType(), mtBackground);
    }
  }
}

class MarkersFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    char Template[] = "/tmp/varnix-markers-XXXXXX";
    Dir = mkdtemp(Template);
  }
  void TearDown() override { std::system(("rm -rf '" + Dir + "'").c_str()); }
  std::string ReadAll(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
  }
  int FileCount() {
    return std::system(("test $(ls -A '" + Dir + "' | wc -l) -eq 1").c_str()) == 0 ? 1 : 0;
  }
  std::string Dir;
};

TEST_F(MarkersFileOnDisk, SaveReplacesAndLoadReadsBack) {
  const std::string Path = Dir + "/set.vnx";
  {
    std::ofstream Old(Path, std::ios::binary);
    Old << "an older, longer file that must be replaced completely";
  }
  TSelectionMarkerList List;
  List.Add(Point(3, 4), mtObject);
  List.Add(Point(-1, 70000), mtBackground);
  List.SaveToFile(Path);
  EXPECT_EQ(ReadAll(Path).size(), 34u);
  EXPECT_EQ(FileCount(), 1) << "no temporary file is left behind";
  struct stat St;
  ASSERT_EQ(stat(Path.c_str(), &St), 0);
  EXPECT_NE(St.st_mode & S_IRUSR, 0u);

  TSelectionMarkerList Copy;
  Copy.LoadFromFile(Path);
  ASSERT_EQ(Copy.GetCount(), 2);
  EXPECT_EQ(Copy.GetMarker(1)->Position(), Point(-1, 70000));
}

TEST_F(MarkersFileOnDisk, FileErrorsNameTheFile) {
  TSelectionMarkerList List;
  try {
    List.LoadFromFile(Dir + "/missing.vnx");
    FAIL() << "no exception";
  } catch (const EFOpenError& E) {
    EXPECT_EQ(E.Message(), "Cannot open file \"" + Dir + "/missing.vnx\". No such file or directory");
  }
  try {
    List.SaveToFile(Dir + "/no/such/folder.vnx");
    FAIL() << "no exception";
  } catch (const EFCreateError& E) {
    EXPECT_EQ(E.Message(), "Cannot create file \"" + Dir + "/no/such/folder.vnx\". No such file or directory");
  }
}

TEST_F(MarkersFileOnDisk, FileNamesAreConvertedFromTheSystemCodePage) {
  // "caf\xe9 \x80.vnx" in cp1252 is "café €.vnx" on the UTF-8 file system.
  TSelectionMarkerList List;
  List.Add(Point(1, 2), mtObject);
  List.SaveToFile(Dir + "/caf\xe9 \x80.vnx");
  EXPECT_EQ(ReadAll(Dir + "/caf\xc3\xa9 \xe2\x82\xac.vnx").size(), 25u);
}

}  // namespace
}  // namespace varnix
