#include "release_test_fixture.h"

#include "setup/release/document_signature.h"

#include <vector>

namespace qv::test {
namespace {

using Fault = DocumentSignatureFault;

// with_server.sh makes the prefix trust the test CA of the fixtures.
struct SignatureRow {
    const char* name;
    const char* signature;  // file in the fixtures; empty: no bytes
    bool changed;           // a byte of index.json changed after signing
    std::vector<Fault> faults;  // any of these (Windows and Wine differ)
    const wchar_t* signer;      // expected signer name, or nullptr
};

// Catches every way a signature that is not the publisher's over these very
// bytes could pass: Wine checks signed attributes only against themselves,
// so the message digest comparison is the only line against a changed
// document that kept its signature; a base policy passes untrusted roots.
TEST(DocumentSignature, OnlyThePublishersSignatureOfTheseBytesIsTrusted) {
    if (!releaseServer().available()) GTEST_SKIP() << "needs with_server.sh to trust the test CA";
    const SignatureRow rows[] = {
        {"publisher", "index.json.sig", false, {Fault::None}, L"Quorvel, LLC"},
        {"publisherWithoutAttributes", "index.json.noattr.sig", false, {Fault::None}, L"Quorvel, LLC"},
        {"changedWithAttributes", "index.json.sig", true, {Fault::DigestDiffers, Fault::NotVerified}, nullptr},
        {"changedWithoutAttributes", "index.json.noattr.sig", true, {Fault::NotVerified}, nullptr},
        {"anotherDocumentsSignature", "manifest.json.sig", false, {Fault::DigestDiffers, Fault::NotVerified}, nullptr},
        {"sha1Digest", "index.json.sha1.sig", false, {Fault::DigestDiffers}, nullptr},
        {"otherPublisher", "index.json.other.sig", false, {Fault::OtherSigner}, L"Other Publisher, Inc."},
        {"publisherNameInOtherCase", "index.json.case.sig", false, {Fault::OtherSigner}, L"quorvel, llc"},
        {"untrustedRoot", "index.json.stranger.sig", false, {Fault::Untrusted}, L"Quorvel, LLC"},
        {"noCodeSigning", "index.json.noeku.sig", false, {Fault::NoCodeSigning}, L"Quorvel, LLC"},
        {"expired", "index.json.expired.sig", false, {Fault::Untrusted}, L"Quorvel, LLC"},
        {"empty", "", false, {Fault::Missing}, nullptr},
        {"notASignature", "index.json", false, {Fault::NotVerified}, nullptr},
    };
    std::string genuine = signedDocumentFixture("index.json");
    ASSERT_FALSE(genuine.empty());
    for (const SignatureRow& row : rows) {
        std::string document = genuine;
        if (row.changed) document[document.size() - 3] = '1';
        DocumentSignature result = verifyDocumentSignature(document, signedDocumentFixture(row.signature));
        bool expected = false;
        for (Fault fault : row.faults) expected = expected || result.fault == fault;
        EXPECT_TRUE(expected) << row.name << ": fault " << static_cast<int>(result.fault) << ", "
                              << toUtf8(result.reason);
        EXPECT_EQ(result.trusted(), result.reason.empty()) << row.name;
        if (row.signer) EXPECT_EQ(result.signer, row.signer) << row.name;
    }
    EXPECT_NE(verifyDocumentSignature(genuine, signedDocumentFixture("index.json.expired.sig"))
                  .reason.find(L"expired"),
              std::wstring::npos);
}

}  // namespace
}  // namespace qv::test
