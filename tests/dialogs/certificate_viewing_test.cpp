// Certificate and CRL viewing: the viewer (a stand-in script) and the
// selection dialog on the headless backend.
#include <unistd.h>

#include <chrono>

#include "certs/cert_blob_array.h"
#include "dialogs/dialog_test_util.h"
#include "dialogs/token/certificate_viewing.h"
#include "platform/process.h"
#include "ui/message_box.h"
#include "zorbel.h"

namespace {

using namespace zorbelu;
using namespace zorbelu::dialogs;
using namespace zorbelu::dialogtest;
using certs::CertBlobArray;
using fixtures::Ca;
using fixtures::Crl;
using fixtures::Tsa;

// A gathered array of copies of `items`, as the dialog would hold it.
CertBlobArray ArrayOf(const std::vector<std::string>& items) {
    CertBlobArray array(new ZORBELUCertBlob[items.size() + 1]());
    for (size_t i = 0; i < items.size(); ++i) {
        const ZORBELUCertBlob blob = CertBlobOf(items[i]);
        certs::CopyCertBlob(ZORBELCertNode{blob.data, blob.length, blob.encoding, nullptr}, array.get()[i]);
    }
    return array;
}

// ---- The viewer -----------------------------------------------------------------

TEST(Viewer, WritesTheFixedFileAndPassesItsNameUnquoted) {
    const ViewerStandIn viewer;
    const struct {
        ViewKind kind;
        const char *option, *extension, *variable;
        std::string first, second;
    } cases[] = {
        {ViewKind::Certificate, "--as-cert", ".cer", "ZORBELU_CERT_VIEWER", Pki().CertDer(Tsa::Good),
         Pki().CertDer(Ca::Root)},
        {ViewKind::Crl, "--as-crl", ".crl", "ZORBELU_CRL_VIEWER", Pki().CrlBytes(Crl::IntermediateLarge),
         Pki().CrlBytes(Crl::Root)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const std::string file = (viewer.tmp() / ("zorbelutil-" + std::to_string(geteuid()) + c.extension)).string();
        EXPECT_EQ(ViewerTemporaryFile(c.kind), file);
        EXPECT_EQ(ViewerCommandLine(ViewerCommandPrefix(c.kind), file),
                  std::string(std::getenv(c.variable)) + " " + file);
        // Twice, the second time shorter: the same file, overwritten.
        for (const std::string* bytes : {&c.first, &c.second}) {
            const ZORBELUCertBlob blob = CertBlobOf(*bytes);
            ASSERT_EQ(LaunchCertViewer(blob.data, blob.length, c.kind, nullptr), 1u);
            EXPECT_EQ(viewer.Arguments(), (std::vector<std::string>{c.option, file}));
            EXPECT_EQ(test::ReadFileBytes(file), *bytes);
        }
        EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::others_read,
                  std::filesystem::perms::none);
    }
}

TEST(Viewer, FailsWithoutStartingAnything) {
    const ViewerStandIn viewer;
    const ZORBELUCertBlob blob = CertBlobOf(Pki().CertDer(Tsa::Good));
    const std::string file = ViewerTemporaryFile(ViewKind::Certificate);
    const std::filesystem::path elsewhere = viewer.tmp() / "elsewhere";
    const struct {
        const char* name;
        uint32_t length;
        const char* viewerCommand;  // NULL: the stand-in
        const char* tmpdir;         // NULL: the stand-in's folder
        bool fileIsALink;
    } cases[] = {
        {"nothing to write", 0, nullptr, nullptr, false},
        {"no such program", blob.length, "/nonexistent/viewer --x", nullptr, false},
        {"program not executable", blob.length, "/etc/hostname", nullptr, false},
        {"temporary folder missing", blob.length, nullptr, "/nonexistent-zorbelu-folder", false},
        {"the file is a link", blob.length, nullptr, nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SavedVariable savedViewer("ZORBELU_CERT_VIEWER"), savedTmp("TMPDIR");
        if (c.viewerCommand != nullptr) setenv("ZORBELU_CERT_VIEWER", c.viewerCommand, 1);
        if (c.tmpdir != nullptr) setenv("TMPDIR", c.tmpdir, 1);
        std::filesystem::remove(file);
        if (c.fileIsALink) std::filesystem::create_symlink(elsewhere, file);
        viewer.Forget();
        EXPECT_EQ(LaunchCertViewer(blob.data, c.length, ViewKind::Certificate, nullptr), 0u);
        EXPECT_TRUE(viewer.Arguments().empty());
        EXPECT_FALSE(std::filesystem::exists(elsewhere));
        std::filesystem::remove(file);
    }
}

TEST(Viewer, WaitsForTheWindowNotForTheViewerToEnd) {
    // Reports its window at once, then stays for a while.
    const ViewerStandIn viewer("printf x >&\"$ZORBELU_VIEWER_READY_FD\"; sleep 4");
    const ZORBELUCertBlob blob = CertBlobOf(Pki().CertDer(Tsa::Good));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(LaunchCertViewer(blob.data, blob.length, ViewKind::Certificate, nullptr), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(viewer.Arguments().size(), 2u);
}

// ---- Viewing arrays and the selection dialog --------------------------------------

class Selection : public HeadlessTest {
protected:
    ViewerStandIn viewer_;
};

TEST_F(Selection, CrlsListedLastFirstAndThePickedOneOpened) {
    const std::vector<std::string> crls = {Pki().CrlBytes(Crl::Root), Pki().CrlBytes(Crl::Intermediate),
                                           Pki().CrlBytes(Crl::AiaIntermediate)};
    const CertBlobArray array = ArrayOf(crls);
    const struct {
        int pick;  // -1: keep the preselection
        size_t opened;
    } cases[] = {{-1, 2}, {2, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pick);
        hl::Reset();
        viewer_.Forget();
        std::vector<hl::Action> script;
        if (c.pick >= 0) script.push_back(hl::Pick(selection_ids::kList, c.pick));
        script.push_back(hl::Press(platform::IDOK));
        hl::QueueScript(script);
        ViewGatheredArray(array.get(), ViewKind::Crl, nullptr);
        const hl::WindowState w = Opened();
        EXPECT_TRUE(!hl::Runs()[0].closedByBackend && w.templateId == kTemplateCertCrlSelection);
        EXPECT_EQ(w.Find(selection_ids::kList)->items,
                  (std::vector<std::string>{"Zorbelu Test AIA Intermediate CA", "Zorbelu Test Intermediate CA",
                                            "Zorbelu Test Root CA"}));
        EXPECT_EQ(w.Find(selection_ids::kList)->selected, 0);
        EXPECT_EQ(test::ReadFileBytes(ViewerTemporaryFile(ViewKind::Crl)), crls[c.opened]);
        EXPECT_TRUE(viewer_.Arguments().front() == "--as-crl" && hl::RecordedMessageBoxes().empty());
    }
}

}  // namespace
