// Certificate and CRL viewing: the chain and CRLs gathered from a store, the
// viewer (a stand-in script), the selection dialog on the headless backend.
#include <unistd.h>

#include <chrono>

#include "certs/cert_blob_array.h"
#include "certs/core_store_chains.h"
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

std::vector<std::string> Elements(const ZORBELUCertBlob* array) {
    std::vector<std::string> out;
    for (; array != nullptr && array->data != nullptr; ++array)
        out.emplace_back(reinterpret_cast<const char*>(array->data), array->length);
    return out;
}

// A gathered array of copies of `items`, as the dialog would hold it.
CertBlobArray ArrayOf(const std::vector<std::string>& items) {
    CertBlobArray array(new ZORBELUCertBlob[items.size() + 1]());
    for (size_t i = 0; i < items.size(); ++i) {
        const ZORBELUCertBlob blob = CertBlobOf(items[i]);
        certs::CopyCertBlob(ZORBELCertNode{blob.data, blob.length, blob.encoding, nullptr}, array.get()[i]);
    }
    return array;
}

TEST(Gathering, ChainAndCrlsFromTheStore) {
    const struct {
        const char* name;
        std::vector<Ca> storeCas;
        std::vector<Crl> storeCrls;
        Tsa tsa;
        uint32_t chainResult;
        std::vector<Ca> chain;
        uint32_t crlResult;
        std::vector<Crl> crlArray;
    } cases[] = {
        // The root first: the walk starts again from the head after each member.
        {"complete chain", {Ca::Root, Ca::AiaIntermediate, Ca::Intermediate}, {Crl::Root, Crl::Intermediate},
         Tsa::Good, 1, {Ca::Intermediate, Ca::Root}, 1, {Crl::Intermediate, Crl::Root}},
        {"root missing", {Ca::Intermediate}, {Crl::Intermediate, Crl::Root}, Tsa::Good, 1605, {}, 1,
         {Crl::Intermediate}},
        {"issued by the root", {Ca::Intermediate, Ca::Root}, {Crl::Intermediate, Crl::Root}, Tsa::UnderRoot, 1,
         {Ca::Root}, 1, {Crl::Root}},
        {"self-issued TSA certificate", {Ca::Root, Ca::Intermediate}, {Crl::Root, Crl::Intermediate}, Tsa::SelfIssued,
         1605, {}, 1605, {}},
        {"no CRL of the issuer", {Ca::Intermediate, Ca::Root}, {Crl::Root}, Tsa::Good, 1, {Ca::Intermediate, Ca::Root},
         1605, {}},
        {"two CRLs of one issuer: the first", {Ca::Intermediate, Ca::Root},
         {Crl::IntermediatePem, Crl::Intermediate, Crl::Root}, Tsa::Good, 1, {Ca::Intermediate, Ca::Root}, 1,
         {Crl::IntermediatePem, Crl::Root}},
        {"a gap ends the CRLs", {Ca::Intermediate, Ca::Root}, {Crl::AiaIntermediate, Crl::Intermediate}, Tsa::Good, 1,
         {Ca::Intermediate, Ca::Root}, 1, {Crl::Intermediate}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Store store = MakeStore(c.storeCas, c.storeCrls);
        const ZORBELUCertBlob tsa = CertBlobOf(Pki().CertDer(c.tsa));
        ZORBELUCertBlob* raw = reinterpret_cast<ZORBELUCertBlob*>(&raw);  // must be reset
        EXPECT_EQ(certs::BuildCAChainForCert(store.get(), &tsa, &raw), c.chainResult);
        const CertBlobArray chain(raw);
        raw = reinterpret_cast<ZORBELUCertBlob*>(&raw);
        EXPECT_EQ(certs::CollectCRLsForChain(store.get(), &tsa, chain.get(), &raw), c.crlResult);
        const CertBlobArray crls(raw);
        std::vector<std::string> chainBytes, crlBytes;
        for (Ca ca : c.chain) chainBytes.push_back(Pki().CertDer(ca));
        for (Crl crl : c.crlArray) crlBytes.push_back(Pki().CrlBytes(crl));
        EXPECT_TRUE(Elements(chain.get()) == chainBytes && Elements(crls.get()) == crlBytes);
        EXPECT_TRUE((c.chainResult == 1 || chain == nullptr) && (c.crlResult == 1 || crls == nullptr));
        EXPECT_TRUE(!chain || chain.get()[0].data != store->caCerts->data);  // the copies are the array's own
    }
}

TEST(Gathering, ArgumentsAreCheckedFirst) {
    const Store store = MakeStore({Ca::Intermediate, Ca::Root}, {Crl::Intermediate});
    ZORBELCertStore unmarked = *store;
    unmarked.size = 12;
    const std::string junk = "not a certificate";
    const ZORBELUCertBlob tsa = CertBlobOf(Pki().CertDer(Tsa::Good)), undecodable = CertBlobOf(junk);
    const struct {
        const ZORBELCertStore* store;
        const ZORBELUCertBlob* cert;
        uint32_t result;
    } cases[] = {{nullptr, &tsa, 1600}, {&unmarked, &tsa, 1600}, {store.get(), nullptr, 1700},
                 {store.get(), &undecodable, 1601}};
    for (const auto& c : cases) {
        ZORBELUCertBlob* out = nullptr;
        EXPECT_EQ(certs::BuildCAChainForCert(c.store, c.cert, &out), c.result);
        EXPECT_EQ(certs::CollectCRLsForChain(c.store, c.cert, nullptr, &out), c.result);
        EXPECT_EQ(out, nullptr);
    }
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

TEST_F(Selection, CaptionAndLabelFollowTheKind) {
    const std::string junk = "\x30\x03\x02\x01\x01";
    const struct {
        ViewKind kind;
        std::vector<std::string> items;
        const char* caption;
        std::vector<std::string> listed;
    } cases[] = {
        {ViewKind::Certificate, {Pki().CertDer(Ca::Intermediate), junk, Pki().CertDer(Ca::Root)},
         "Certificate Selection", {"Zorbelu Test Root CA", "", "Zorbelu Test Intermediate CA"}},
        {ViewKind::Crl, {Pki().CrlBytes(Crl::IntermediatePem), Pki().CertDer(Ca::Root)},
         "Certificate Revocation List Selection", {"", "Zorbelu Test Intermediate CA"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.caption);
        hl::Reset();
        const CertBlobArray array = ArrayOf(c.items);
        hl::QueueScript({hl::Press(platform::IDCANCEL)});
        ViewGatheredArray(array.get(), c.kind, nullptr);
        const hl::WindowState w = Opened();
        EXPECT_TRUE(w.caption == c.caption && w.Find(selection_ids::kLabel)->text == c.caption);
        EXPECT_EQ(w.Find(selection_ids::kList)->items, c.listed);
    }
    EXPECT_TRUE(viewer_.Arguments().empty());  // cancelled: nothing opened
}

TEST_F(Selection, FailuresShowTheKindsMessageWithCodeZero) {
    setenv("ZORBELU_CERT_VIEWER", "/nonexistent/viewer", 1);
    setenv("ZORBELU_CRL_VIEWER", "/nonexistent/viewer", 1);
    const CertBlobArray one = ArrayOf({Pki().CrlBytes(Crl::Root)});
    const CertBlobArray two = ArrayOf({Pki().CertDer(Ca::Intermediate), Pki().CertDer(Ca::Root)});
    ViewGatheredArray(nullptr, ViewKind::Crl, nullptr);
    ViewGatheredArray(nullptr, ViewKind::Certificate, nullptr);
    ViewGatheredArray(one.get(), ViewKind::Crl, nullptr);
    hl::QueueScript({hl::Press(platform::IDOK)});  // the selection dialog's own failure
    ViewGatheredArray(two.get(), ViewKind::Certificate, nullptr);
    const auto& boxes = hl::RecordedMessageBoxes();
    ASSERT_EQ(boxes.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(boxes[i].text + std::to_string(boxes[i].type),
                  std::string("An error occurred when trying to display ") +
                      (i % 2 == 0 ? "certificate revocation list" : "root certificate") + ".(Error code: 0)" +
                      std::to_string(platform::MB_ICONSTOP));
    // The selection dialog owned its message and still closed with OK.
    EXPECT_FALSE(Opened().templateId == 0 || hl::Runs()[0].closedByBackend);
    EXPECT_NE(boxes[3].owner, nullptr);
}

}  // namespace
