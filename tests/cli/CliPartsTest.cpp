// The parts of varnix-cli that do not need the engine: the command line, the serve protocol and
// the batch machinery.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <set>
#include <thread>

#include "cli/BatchRunner.h"
#include "cli/CliArguments.h"
#include "cli/ServeProtocol.h"

namespace varnix {
namespace {

// ---- command line ----

TEST(CliArguments, SegmentTakesEveryOptionInEitherSpelling) {
  const TCliArguments A = ParseArguments({"segment", "--markers=m.vnx", "photo.png", "--out", "mask.png", "--aa",
                                          "Very-Soft", "--cutout", "cut.png", "--gradient", "g.png", "--xgradient=gx.png",
                                          "--ygradient", "gy.png", "--regions", "r.bin", "--graph", "graph.txt",
                                          "--hard", "hard.png", "--boundary", "b.txt", "--edgemask", "e.png",
                                          "--edges", "edges.txt"});
  ASSERT_EQ(A.Command, ccSegment);
  const TSegmentOptions& S = A.Segment;
  EXPECT_EQ(S.Image, "photo.png");
  EXPECT_EQ(S.Markers, "m.vnx");
  EXPECT_EQ(S.Out, "mask.png");
  EXPECT_EQ(S.AntiAliasing, 4);
  EXPECT_EQ(S.Cutout, "cut.png");
  EXPECT_EQ(S.XGradient, "gx.png");
  EXPECT_EQ(S.Edges, "edges.txt");
  EXPECT_TRUE(S.NeedsIntermediates());
  EXPECT_EQ(S.Outputs().size(), 11u);

  const TCliArguments D = ParseArguments({"segment", "p.png", "--markers", "m.vnx", "--out", "o.png"});
  EXPECT_EQ(D.Segment.AntiAliasing, DefaultAntiAliasing);
  EXPECT_EQ(std::string(AntiAliasingName(D.Segment.AntiAliasing)), "soft");
  EXPECT_FALSE(D.Segment.NeedsIntermediates());
  // "--" lets an image name start with a dash.
  EXPECT_EQ(ParseArguments({"segment", "--markers", "m.vnx", "--out", "o.png", "--", "-odd.png"}).Segment.Image,
            "-odd.png");
}

TEST(CliArguments, ServeBatchAndHelp) {
  const TCliArguments S = ParseArguments({"serve", "photo.tif", "--aa", "none"});
  ASSERT_EQ(S.Command, ccServe);
  EXPECT_EQ(S.Serve.Image, "photo.tif");
  EXPECT_EQ(S.Serve.AntiAliasing, 0);

  const TCliArguments B = ParseArguments({"batch", "a", "b.jpg", "--out-dir", "out", "--jobs", "3"});
  ASSERT_EQ(B.Command, ccBatch);
  EXPECT_EQ(B.Batch.Inputs, (std::vector<std::string>{"a", "b.jpg"}));
  EXPECT_EQ(B.Batch.OutDir, "out");
  EXPECT_EQ(B.Batch.Jobs, 3);

  struct THelpCase {
    std::vector<std::string> Args;
    std::string Topic;
  };
  const THelpCase Helps[] = {{{"--help"}, ""},
                             {{"-h"}, ""},
                             {{"help"}, ""},
                             {{"help", "batch"}, "batch"},
                             {{"segment", "--help"}, "segment"},
                             {{"serve", "x.png", "-h"}, "serve"},
                             // help wins over the errors of the rest of the line
                             {{"batch", "--jobs", "0", "--help"}, "batch"}};
  for (const THelpCase& C : Helps) {
    SCOPED_TRACE(C.Args[0] + " " + C.Topic);
    const TCliArguments H = ParseArguments(C.Args);
    EXPECT_EQ(H.Command, ccHelp);
    EXPECT_EQ(H.HelpTopic, C.Topic);
  }
  EXPECT_NE(HelpText("segment").find("--edges EDGES.txt"), std::string::npos);
  EXPECT_NE(HelpText("serve").find("\"markers\""), std::string::npos);
  EXPECT_NE(HelpText("batch").find("--jobs N"), std::string::npos);
  EXPECT_NE(HelpText("").find("Exit status"), std::string::npos);
}

TEST(CliArguments, BadCommandLinesAreUsageErrorsNamingTheProblem) {
  struct TCase {
    std::vector<std::string> Args;
    std::string Message;
    std::string Command;
  };
  const TCase Cases[] = {
      {{}, "no command given", ""},
      {{"paint"}, "unknown command 'paint'", ""},
      {{"help", "paint"}, "unknown command 'paint'", ""},
      {{"segment", "--markers", "m.vnx", "--out", "o.png"}, "no image given", "segment"},
      {{"segment", "a.png", "b.png", "--markers", "m.vnx", "--out", "o.png"},
       "only one image can be segmented, got 'b.png' too", "segment"},
      {{"segment", "a.png", "--out", "o.png"}, "option --markers is required", "segment"},
      {{"segment", "a.png", "--markers", "m.vnx"}, "option --out is required", "segment"},
      {{"segment", "a.png", "--markers", "m.vnx", "--out"}, "option --out needs a value", "segment"},
      {{"segment", "a.png", "--markers=", "--out", "o.png"}, "option --markers needs a value", "segment"},
      {{"segment", "a.png", "--markers", "m.vnx", "--out", "o.png", "--colour", "x"}, "unknown option '--colour'",
       "segment"},
      {{"segment", "a.png", "--markers", "m.vnx", "--out", "o.png", "--aa", "blurry"},
       "unknown anti-aliasing method 'blurry' (use none, sharp, medium, soft or very-soft)", "segment"},
      {{"segment", "a.png", "--markers", "m.vnx", "--out", "o.png", "--out", "p.png"}, "option --out is given twice",
       "segment"},
      {{"segment", "a.png", "--markers", "m.vnx", "--out", "o.png", "--hard", "o.png"},
       "--out and --hard name the same file 'o.png'", "segment"},
      {{"segment", "a.png", "--markers", "m.vnx", "--out", "o.png", "--jobs", "2"}, "unknown option '--jobs'", "segment"},
      {{"serve"}, "no image given", "serve"},
      {{"serve", "a.png", "--out", "x"}, "unknown option '--out'", "serve"},
      {{"batch", "--out-dir", "o"}, "no images or folders given", "batch"},
      {{"batch", "a"}, "option --out-dir is required", "batch"},
      {{"batch", "a", "--out-dir", "o", "--jobs", "0"}, "--jobs needs a whole number from 1 to 1024, not '0'", "batch"},
      {{"batch", "a", "--out-dir", "o", "--jobs", "2x"}, "--jobs needs a whole number from 1 to 1024, not '2x'", "batch"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Message);
    try {
      ParseArguments(C.Args);
      ADD_FAILURE() << "no usage error";
    } catch (const EUsageError& E) {
      EXPECT_EQ(E.Message(), C.Message);
      EXPECT_EQ(E.Command, C.Command);
    }
  }
}

TEST(CliArguments, MethodNames) {
  const std::pair<const char*, int> Names[] = {{"none", 0},      {"SHARP", 1},     {"medium", 2}, {"Soft", 3},
                                               {"very-soft", 4}, {"very soft", 4}, {"soft2", -1}, {"", -1}};
  for (const auto& [Name, Index] : Names) EXPECT_EQ(AntiAliasingFromName(Name), Index) << Name;
  for (int i = 0; i < AntiAliasingMethodCount; ++i) EXPECT_EQ(AntiAliasingFromName(AntiAliasingName(i)), i);
}

// ---- serve protocol ----

TEST(ServeProtocol, ValidRequests) {
  TServeRequest R;
  std::string Error;
  ASSERT_TRUE(ParseServeRequest(R"({"markers": [[3, 4, 0], [-1, 70000.0, 1]], "out": "m.png", "aa": "sharp", "x": 1})",
                                R, Error))
      << Error;
  ASSERT_EQ(R.Markers.size(), 2u);
  EXPECT_EQ(R.Markers[0].Position, Point(3, 4));
  EXPECT_EQ(R.Markers[0].Type, 0);
  EXPECT_EQ(R.Markers[1].Position, Point(-1, 70000));
  EXPECT_EQ(R.Markers[1].Type, 1);
  EXPECT_EQ(R.Out, "m.png");
  EXPECT_EQ(R.AntiAliasing, 1);
  ASSERT_TRUE(ParseServeRequest(R"({"out": "m.png", "markers": [[0, 0, 1]]})", R, Error));
  EXPECT_EQ(R.AntiAliasing, -1) << "no aa: the session's default";
}

TEST(ServeProtocol, MalformedRequestsGetAReason) {
  const std::pair<const char*, const char*> Cases[] = {
      {R"({"markers": [[1, 2, 0]], "out": "m.png")", "the line is not valid JSON"},
      {R"([1, 2, 3])", "the request must be a JSON object"},
      {R"({"out": "m.png"})", "\"markers\" must be an array of [x, y, type] entries"},
      {R"({"markers": [], "out": "m.png"})", "\"markers\" is empty; at least one marker is needed"},
      {R"({"markers": [[1, 2]], "out": "m.png"})", "marker 0 must be [x, y, type] with whole numbers"},
      {R"({"markers": [[1, 2, 0], [1.5, 2, 0]], "out": "m.png"})", "marker 1 must be [x, y, type] with whole numbers"},
      {R"({"markers": [[1, 3000000000, 0]], "out": "m.png"})", "marker 0 must be [x, y, type] with whole numbers"},
      {R"({"markers": [["1", 2, 0]], "out": "m.png"})", "marker 0 must be [x, y, type] with whole numbers"},
      {R"({"markers": [[1, 2, 2]], "out": "m.png"})", "marker 0 has type 2; use 0 for object, 1 for background"},
      {R"({"markers": [[1, 2, 0]]})", "\"out\" must be the name of the mask file to write"},
      {R"({"markers": [[1, 2, 0]], "out": ""})", "\"out\" must be the name of the mask file to write"},
      {R"({"markers": [[1, 2, 0]], "out": "m.png", "aa": 3})", "\"aa\" must be one of none, sharp, medium, soft, very-soft"},
  };
  for (const auto& [Line, Message] : Cases) {
    SCOPED_TRACE(Line);
    TServeRequest R;
    std::string Error;
    EXPECT_FALSE(ParseServeRequest(Line, R, Error));
    EXPECT_EQ(Error, Message);
  }
}

TEST(ServeProtocol, AnswersAreOneLineOfJson) {
  EXPECT_EQ(ServeSuccess(12.3456), R"({"ok":true,"ms":12.346})");
  EXPECT_EQ(ServeFailure("x.png: cannot \"open\"\n"), R"({"error":"x.png: cannot \"open\"\n","ok":false})");
  // Latin-1 bytes that are not UTF-8 must not break the answer.
  EXPECT_EQ(ServeFailure("caf\xe9"), "{\"error\":\"caf\xEF\xBF\xBD\",\"ok\":false}");
}

// ---- batch ----

class BatchPlanning : public ::testing::Test {
 protected:
  void SetUp() override {
    char Template[] = "/tmp/varnix-batch-XXXXXX";
    Dir = mkdtemp(Template);
    mkdir((Dir + "/in").c_str(), 0755);
    mkdir((Dir + "/in/sub").c_str(), 0755);
    for (const char* Name : {"in/b.png", "in/b.vnx", "in/a.JPG", "in/a.vnx", "in/c.tif", "in/notes.txt",
                             "in/notes.vnx", "in/sub/d.png", "in/sub/d.vnx", "lone.png", "x.tiff", "x.vnx", "b.jpg",
                             "b.vnx"})
      std::ofstream(Dir + "/" + Name) << "x";
  }
  void TearDown() override { std::system(("rm -rf '" + Dir + "'").c_str()); }
  std::string Dir;
};

TEST_F(BatchPlanning, FoldersAndFilesBecomeJobsInNameOrder) {
  const TBatchPlan Plan = PlanBatch({Dir + "/in", Dir + "/x.tiff", Dir + "/lone.png", Dir + "/missing.png",
                                     Dir + "/b.jpg"},
                                    Dir + "/out");
  ASSERT_EQ(Plan.Jobs.size(), 3u);
  EXPECT_EQ(Plan.Jobs[0].Image, Dir + "/in/a.JPG");
  EXPECT_EQ(Plan.Jobs[0].Markers, Dir + "/in/a.vnx");
  EXPECT_EQ(Plan.Jobs[0].Output, Dir + "/out/a.png");
  EXPECT_EQ(Plan.Jobs[1].Image, Dir + "/in/b.png");
  EXPECT_EQ(Plan.Jobs[2].Image, Dir + "/x.tiff");
  EXPECT_EQ(Plan.Jobs[2].Output, Dir + "/out/x.png");
  EXPECT_EQ(Plan.Skipped, 1) << "c.tif has no markers; notes.txt and sub/ are not images";
  EXPECT_EQ(Plan.Problems, (std::vector<std::string>{
                               Dir + "/lone.png: no markers file " + Dir + "/lone.vnx",
                               Dir + "/missing.png: no such file or folder",
                               Dir + "/b.jpg: its mask " + Dir + "/out/b.png would replace the mask of " + Dir +
                                   "/in/b.png",
                           }));
  EXPECT_EQ(MarkersFileFor("dir.v2/photo"), "dir.v2/photo.vnx");
  EXPECT_EQ(MarkersFileFor(".hidden"), ".hidden.vnx");
}

// Records what the runner reports.
struct TRecordingReporter : TBatchReporter {
  void Begin(int Total) override { Log.push_back("begin " + std::to_string(Total)); }
  void Started(const TBatchJob& Job) override {
    ++Running;
    MaxRunning = std::max(MaxRunning, Running);
    Started_.insert(Job.Image);
  }
  void Finished(const TBatchJob& Job, bool Succeeded, const std::string& Message, double) override {
    --Running;
    Finished_.insert(Job.Image + (Succeeded ? " ok" : " failed: " + Message));
  }
  void Note(const std::string& Message) override { Notes.push_back(Message); }
  void End(int Succeeded, int Failed, double) override {
    Log.push_back("end " + std::to_string(Succeeded) + " " + std::to_string(Failed));
  }
  std::vector<std::string> Log, Notes;
  std::set<std::string> Started_, Finished_;
  int Running = 0, MaxRunning = 0;
};

TEST(BatchRunner, EveryJobRunsAndFailuresDoNotStopTheOthers) {
  std::vector<TBatchJob> Jobs;
  for (int i = 0; i < 9; ++i) Jobs.push_back({"img" + std::to_string(i), "", ""});
  std::atomic<int> Concurrent{0}, MaxConcurrent{0};
  auto Work = [&](const TBatchJob& Job, const std::function<void(const std::string&)>& Warn) {
    const int Now = ++Concurrent;
    for (int Seen = MaxConcurrent; Now > Seen && !MaxConcurrent.compare_exchange_weak(Seen, Now);) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    --Concurrent;
    if (Job.Image == "img4") throw std::runtime_error("img4: broken");
    if (Job.Image == "img7") Warn("img7: marker outside");
  };
  TRecordingReporter Reporter;
  const TBatchResult Result = RunBatch(Jobs, 3, Work, Reporter);
  EXPECT_EQ(Result.Succeeded, 8);
  EXPECT_EQ(Result.Failed, 1);
  EXPECT_EQ(Reporter.Log, (std::vector<std::string>{"begin 9", "end 8 1"}));
  EXPECT_EQ(Reporter.Finished_.size(), 9u);
  EXPECT_TRUE(Reporter.Finished_.count("img4 failed: img4: broken"));
  EXPECT_EQ(Reporter.Notes, (std::vector<std::string>{"img7: warning: marker outside"}));
  EXPECT_GT(MaxConcurrent.load(), 1) << "jobs ran at the same time";
  EXPECT_LE(MaxConcurrent.load(), 3);

  TRecordingReporter Single;
  EXPECT_EQ(RunBatch({}, 4, Work, Single).Succeeded, 0);
  EXPECT_EQ(Single.Log, (std::vector<std::string>{"begin 0", "end 0 0"}));
}

TEST(BatchRunner, LineReporterWritesOneLinePerFile) {
  char OutBuffer[1024] = {}, ErrBuffer[1024] = {};
  FILE* Out = fmemopen(OutBuffer, sizeof OutBuffer, "w");
  FILE* Err = fmemopen(ErrBuffer, sizeof ErrBuffer, "w");
  TLineReporter Reporter(Out, Err);
  std::vector<TBatchJob> Jobs = {{"in/a.png", "in/a.vnx", "out/a.png"}, {"in/b.png", "in/b.vnx", "out/b.png"}};
  RunBatch(Jobs, 1,
           [](const TBatchJob& Job, const std::function<void(const std::string&)>&) {
             if (Job.Image == "in/b.png") throw std::runtime_error("in/b.png: corrupt or truncated PNG file (Read Error)");
           },
           Reporter);
  std::fclose(Out);
  std::fclose(Err);
  const std::string OutText = OutBuffer, ErrText = ErrBuffer;
  EXPECT_EQ(OutText.substr(0, OutText.find(" (")), "in/a.png -> out/a.png");
  EXPECT_NE(OutText.find("\nbatch: 1 of 2 images segmented, 1 failed ("), std::string::npos) << OutText;
  EXPECT_EQ(ErrText, "in/b.png: failed: corrupt or truncated PNG file (Read Error)\n");
}

TEST(BatchRunner, ProgressBarRedrawsInPlaceAndPrintsFailuresAboveIt) {
  char TermBuffer[2048] = {}, ErrBuffer[512] = {};
  FILE* Term = fmemopen(TermBuffer, sizeof TermBuffer, "w");
  FILE* Err = fmemopen(ErrBuffer, sizeof ErrBuffer, "w");
  TProgressBarReporter Reporter(Term, Err);
  std::vector<TBatchJob> Jobs = {{"in/a.png", "", "out/a.png"}, {"in/b.png", "", "out/b.png"}};
  RunBatch(Jobs, 1,
           [](const TBatchJob& Job, const std::function<void(const std::string&)>&) {
             if (Job.Image == "in/a.png") throw std::runtime_error("in/a.png: bad");
           },
           Reporter);
  std::fclose(Term);
  std::fclose(Err);
  const std::string Text = TermBuffer;
  EXPECT_NE(Text.find("\r\033[K[..............................] 0/2  a.png"), std::string::npos) << Text;
  EXPECT_NE(Text.find("\r\033[K[###############...............] 1/2, 1 failed  b.png"), std::string::npos) << Text;
  EXPECT_NE(Text.find("[##############################] 2/2, 1 failed\nbatch: 1 of 2 images segmented, 1 failed ("),
            std::string::npos)
      << Text;
  EXPECT_EQ(Text.find('\n'), Text.rfind("\nbatch")) << "the bar stays on one line until the end";
  EXPECT_EQ(std::string(ErrBuffer), "in/a.png: failed: bad\n");
}

}  // namespace
}  // namespace varnix
