// What the dialog tests share: fixture stores, a token with a TAC, headless window readers, a stand-in viewer.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "core/test_util.h"
#include "x509/ossl_ptr.h"
#include "dialogs/signature/signature_texts.h"
#include "frame/module_state.h"
#include "platform/module.h"
#include "support/fixture_pki.h"
#include "support/served_pki.h"
#include "support/tac_builder.h"
#include "ui/dialog.h"
#include "ui/ui_headless.h"

namespace zorbelu::dialogtest {

namespace hl = platform::headless;
using coretest::Blob;
using coretest::CertBlobOf;
using coretest::Store;

inline const fixtures::FixturePki& Pki() { return fixtures::FixturePki::Shared(); }
inline constexpr auto& MakeStore = coretest::FixtureStore;

inline std::string TokenWithTac(const fixtures::FixturePki& pki = Pki()) {
    const std::string& der = pki.CertDer(fixtures::Tsa::Good);
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    const X509Ptr holder(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    const PkeyPtr key(EVP_EC_gen("P-256"));
    fixtures::TacParams params;
    params.holder = holder.get();
    params.issuer = X509_get_issuer_name(holder.get());
    params.policy.policyOid = "1.2.3.4.5.6";
    params.signingKey = key.get();
    const std::vector<uint8_t> tac = fixtures::BuildTac(params);
    fixtures::TokenSpec recipe;
    recipe.attributeCertificates = {std::string(tac.begin(), tac.end())};
    return pki.MakeToken(recipe);
}

// The text of every edit control, by id.
inline std::map<int, std::string> Fields(const hl::WindowState& w) {
    std::map<int, std::string> fields;
    for (const hl::ControlState& c : w.controls)
        if (c.kind == ZORBELU_CTL_EDIT) fields[c.id] = c.text;
    return fields;
}

// The text with every uppercase hex digit as 'X'.
inline std::string Shape(std::string text) {
    for (char& c : text)
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) c = 'X';
    return text;
}

// The status picture that shows, 0 when none or several do.
inline int ShownPicture(const hl::WindowState& w) {
    int shown = 0;
    for (const int id : dialogs::kStatusPictures)
        if (const hl::ControlState* c = w.Find(id); c != nullptr && c->visible) shown = shown == 0 ? id : -1;
    return shown < 0 ? 0 : shown;
}

inline std::string Text(const hl::WindowState& w, int id) {
    const hl::ControlState* c = w.Find(id);
    return c != nullptr ? c->text : "<missing " + std::to_string(id) + ">";
}

// A language module (NULL: the library's own texts) as the current resource module while it lives.
class CurrentTexts {
public:
    explicit CurrentTexts(const char* path)
        : module_(path ? platform::LoadLibraryA(path) : platform::OwnModuleHandle()) {
        EXPECT_NE(module_, nullptr);
        frame::AfxSetResourceHandle(module_);
    }
    ~CurrentTexts() {
        frame::AfxSetResourceHandle(platform::OwnModuleHandle());
        if (module_ != nullptr && module_ != platform::OwnModuleHandle()) platform::FreeLibrary(module_);
    }
    CurrentTexts(const CurrentTexts&) = delete;
    platform::HINSTANCE module() const { return module_; }

private:
    platform::HINSTANCE module_;
};

// Every headless test starts with the library's own texts, no runs, no boxes.
class HeadlessTest : public testing::Test {
protected:
    void SetUp() override {
        frame::AfxSetResourceHandle(platform::OwnModuleHandle());
        hl::Reset();
        hl::ClearRecordedMessageBoxes();
    }
    void TearDown() override { frame::AfxSetResourceHandle(platform::OwnModuleHandle()); }
    static hl::WindowState Opened() {
        EXPECT_EQ(hl::Runs().size(), 1u);
        return hl::Runs().empty() ? hl::WindowState{} : hl::Runs().back().atStart;
    }
};

// A viewer script recording its arguments, started as the certificate and CRL viewer; TMPDIR holds a space.
class ViewerStandIn {
public:
    explicit ViewerStandIn(const std::string& extra = "") {
        std::filesystem::create_directories(tmp());
        const std::filesystem::path script = dir_.path() / "viewer.sh";
        std::ofstream(script) << "#!/bin/sh\n: > '" << record().string() << "'\n"
                              << "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" << record().string() << "'; done\n"
                              << extra << "\n";
        chmod(script.c_str(), 0755);
        setenv("ZORBELU_CERT_VIEWER", (script.string() + " --as-cert").c_str(), 1);
        setenv("ZORBELU_CRL_VIEWER", (script.string() + " --as-crl").c_str(), 1);
        setenv("TMPDIR", tmp().c_str(), 1);
    }
    std::filesystem::path tmp() const { return dir_.path() / "with space"; }
    std::filesystem::path record() const { return dir_.path() / "args.txt"; }
    std::vector<std::string> Arguments() const {  // of the last start; empty when it never ran
        std::ifstream in(record());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    void Forget() const { std::filesystem::remove(record()); }

private:
    test::ScopedEnv cert_{"ZORBELU_CERT_VIEWER"}, crl_{"ZORBELU_CRL_VIEWER"}, tmp_{"TMPDIR"};
    test::TempDir dir_;
};

}  // namespace zorbelu::dialogtest
