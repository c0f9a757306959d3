// Certificate and CRL viewing through the viewer (a stand-in script).
#include <unistd.h>

#include "dialogs/dialog_test_util.h"
#include "dialogs/token/certificate_viewing.h"
#include "platform/process.h"
#include "ui/message_box.h"
#include "zorbel.h"

namespace {

using namespace zorbelu;
using namespace zorbelu::dialogs;
using namespace zorbelu::dialogtest;
using fixtures::Ca;
using fixtures::Crl;
using fixtures::Tsa;

// ---- The viewer -----------------------------------------------------------------

TEST(Viewer, WritesTheFixedFileAndPassesItsNameUnquoted) {
    const ViewerStandIn viewer;
    const struct {
        ViewKind kind;
        const char *option, *extension;
        std::string first, second;
    } cases[] = {
        {ViewKind::Certificate, "--as-cert", ".cer", Pki().CertDer(Tsa::Good),
         Pki().CertDer(Ca::Root)},
        {ViewKind::Crl, "--as-crl", ".crl", Pki().CrlBytes(Crl::IntermediateLarge),
         Pki().CrlBytes(Crl::Root)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const std::string file = (viewer.tmp() / ("zorbelutil-" + std::to_string(geteuid()) + c.extension)).string();
        EXPECT_EQ(ViewerTemporaryFile(c.kind), file);
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

}  // namespace
