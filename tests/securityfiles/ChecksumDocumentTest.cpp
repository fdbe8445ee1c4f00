// Checksums of whole documents: what text is hashed, where the value lives
// in security files and repository documents, how a mismatch is reported,
// and that a document whose checksum cannot be computed never passes.
#include <gtest/gtest.h>

#include <string>

#include "infra/ErrorMgr.h"
#include "platform/xml/Dom.h"
#include "securityfiles/RepositoryMgr.h"
#include "securityfiles/SecurityFileFormat.h"
#include "securityfiles/XmlServices.h"
#include "support/TestHost.h"

namespace {

constexpr const char* kFileName = "C:\\Setup\\Station.xml";

std::string SecurityFile(const std::string& checksum) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<t:vscSetup xmlns:t=\"") +
         secfile::kSecurityFileNamespace +
         "\">\n"
         "\t<t:host name=\"\">\n"
         "\t\t<t:products>\n"
         "\t\t\t<t:product value=\"Control Station\"/>\n"
         "\t\t\t<t:checksum value=\"" +
         checksum +
         "\"/>\n"
         "\t\t</t:products>\n"
         "\t\t<t:body><t:wua value=\"pause\"/></t:body>\n"
         "\t</t:host>\n"
         "</t:vscSetup>\n";
}

xml::Document Parse(const std::string& text) {
  xml::Document document = xml::Document::Create();
  EXPECT_TRUE(document.LoadXml(text)) << document.GetParseError().reason;
  return document;
}

std::string Stored(const xml::Document& doc) { return CRepositoryMgr::GetStoredCheckSum(doc); }

class ChecksumDocument : public ::testing::Test {
 protected:
  bool Check(const xml::Document& doc, bool lenient) {
    return CRepositoryMgr::CheckCheckSum(errorMgr_, doc, kFileName, lenient);
  }
  const CErrorObject& Entry(size_t index) const { return *errorMgr_.Entries().at(index); }

  CErrorMgr errorMgr_;
};

// ---- What is hashed ------------------------------------------------------------

TEST_F(ChecksumDocument, HashesTheTextWithoutTheChecksumElementAndItsLastCharacter) {
  const xml::Document doc = Parse(SecurityFile("anything"));
  // The text as the component writes it, the checksum element taken out.
  std::string text = std::string("<?xml version=\"1.0\"?>\r\n<t:vscSetup xmlns:t=\"") +
                     secfile::kSecurityFileNamespace +
                     "\">\r\n"
                     "\t<t:host name=\"\">\r\n"
                     "\t\t<t:products>\r\n"
                     "\t\t\t<t:product value=\"Control Station\"/>\r\n"
                     "\t\t</t:products>\r\n"
                     "\t\t<t:body><t:wua value=\"pause\"/></t:body>\r\n"
                     "\t</t:host>\r\n"
                     "</t:vscSetup>\r\n";
  const std::string computed = CRepositoryMgr::ComputeCheckSum(errorMgr_, doc);
  EXPECT_EQ(computed, CRepositoryMgr::HashTextUtf8(text));
  text.back() = 'X';
  EXPECT_EQ(computed, CRepositoryMgr::HashTextUtf8(text));
  text[text.size() - 2] = 'X';
  EXPECT_NE(computed, CRepositoryMgr::HashTextUtf8(text));
  EXPECT_TRUE(errorMgr_.Entries().empty());
}

// A document that reads back as it is is hashed from its own tree, another
// one from its text read back: either way the checksum is what a later load
// of the saved file sees.
TEST_F(ChecksumDocument, AChangedDocumentIsHashedAsItsTextReadsBack) {
  const xml::Document loaded = Parse(SecurityFile("old"));
  const xml::Document changed = Parse(SecurityFile("old"));
  changed.SelectSingleNode("//t:product").SetAttribute("value", "Control Station");
  ASSERT_TRUE(changed.ReadsBackAsItIs());
  EXPECT_EQ(CRepositoryMgr::ComputeCheckSum(errorMgr_, changed), CRepositoryMgr::ComputeCheckSum(errorMgr_, loaded));

  // Whitespace kept as text from here on: the tree's hidden runs read back
  // as text, and the checksum must follow the text.
  const xml::Document preserving = Parse(SecurityFile("old"));
  preserving.SelectSingleNode("//t:products").SetAttribute("xml:space", "preserve");
  ASSERT_FALSE(preserving.ReadsBackAsItIs());
  EXPECT_EQ(CRepositoryMgr::ComputeCheckSum(errorMgr_, preserving),
            CRepositoryMgr::ComputeCheckSum(errorMgr_, Parse(preserving.Xml())));

  // A removal leaves two whitespace runs side by side; the text reads back
  // with one.
  const xml::Document built = Parse(SecurityFile("old"));
  xml::Node products = built.SelectSingleNode("//t:products");
  products.RemoveChild(products.SelectSingleNode("t:product"));
  const xml::Document reloaded = Parse(built.Xml());
  EXPECT_EQ(CRepositoryMgr::ComputeCheckSum(errorMgr_, built), CRepositoryMgr::ComputeCheckSum(errorMgr_, reloaded));
  EXPECT_TRUE(errorMgr_.Entries().empty());
}

TEST_F(ChecksumDocument, ComputingLeavesTheDocumentAsItIs) {
  const xml::Document doc = Parse(SecurityFile("old"));
  const std::string before = doc.Xml();
  CRepositoryMgr::ComputeCheckSum(errorMgr_, doc);
  EXPECT_EQ(doc.Xml(), before);
}

TEST_F(ChecksumDocument, OnlyTheFirstChecksumElementIsLeftOut) {
  const xml::Document one = Parse(SecurityFile("x"));
  std::string twoText = SecurityFile("x");
  twoText.insert(twoText.find("\t\t</t:products>"), "\t\t\t<t:checksum value=\"y\"/>\n");
  const xml::Document two = Parse(twoText);
  EXPECT_NE(CRepositoryMgr::ComputeCheckSum(errorMgr_, one), CRepositoryMgr::ComputeCheckSum(errorMgr_, two));
}

// ---- Checking ------------------------------------------------------------------

TEST_F(ChecksumDocument, AMismatchIsCriticalUnlessLenient) {
  const xml::Document doc = Parse(SecurityFile("12345000000000000000000000000000"));
  EXPECT_FALSE(Check(doc, true));
  EXPECT_FALSE(Check(doc, false));
  ASSERT_EQ(errorMgr_.Entries().size(), 2u);
  EXPECT_EQ(Entry(0).level, kLevelError);
  EXPECT_EQ(Entry(1).level, kLevelCritical);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(Entry(i).function, "CRepositoryMgr::CheckCheckSum");
    EXPECT_EQ(Entry(i).message, "Hash Check failed:  C:\\Setup\\Station.xml");
  }
}

TEST_F(ChecksumDocument, AnEmptyStoredValueFails) {
  EXPECT_FALSE(Check(Parse(SecurityFile("")), true));
  ASSERT_EQ(errorMgr_.Entries().size(), 1u);
  EXPECT_EQ(Entry(0).level, kLevelError);
}

TEST_F(ChecksumDocument, AfterSetCheckSumTheDocumentPassesWhateverWasStoredBefore) {
  const xml::Document a = Parse(SecurityFile("12345000000000000000000000000000"));
  const xml::Document b = Parse(SecurityFile(""));
  ASSERT_TRUE(CRepositoryMgr::SetCheckSum(errorMgr_, a));
  ASSERT_TRUE(CRepositoryMgr::SetCheckSum(errorMgr_, b));
  EXPECT_EQ(Stored(a), Stored(b));
  EXPECT_EQ(Stored(a).size(), 32u);
  EXPECT_TRUE(Check(a, false));
  EXPECT_TRUE(errorMgr_.Entries().empty());
}

TEST_F(ChecksumDocument, SettingTwiceGivesTheSameValueAndOneElement) {
  const xml::Document doc = Parse(SecurityFile(""));
  ASSERT_TRUE(CRepositoryMgr::SetCheckSum(errorMgr_, doc));
  const std::string first = Stored(doc);
  const std::string text = doc.Xml();
  ASSERT_TRUE(CRepositoryMgr::SetCheckSum(errorMgr_, doc));
  EXPECT_EQ(Stored(doc), first);
  EXPECT_EQ(doc.Xml(), text);
  EXPECT_EQ(doc.SelectNodes("t:vscSetup/t:host/t:products/t:checksum").Length(), 1u);
}

TEST_F(ChecksumDocument, AMissingChecksumElementIsAddedLastInTheProducts) {
  std::string text = SecurityFile("");
  text.erase(text.find("\t\t\t<t:checksum"), std::string("\t\t\t<t:checksum value=\"\"/>\n").size());
  const xml::Document doc = Parse(text);
  EXPECT_FALSE(Check(doc, true));
  errorMgr_.ResetMessages();
  ASSERT_TRUE(CRepositoryMgr::SetCheckSum(errorMgr_, doc));
  const xml::Node last = doc.SelectSingleNode("t:vscSetup/t:host/t:products").LastChild();
  EXPECT_EQ(last.NodeName(), "t:checksum");
  EXPECT_TRUE(Check(doc, false));
}

TEST_F(ChecksumDocument, SetCheckSumClearsAnEarlierErrorFlag) {
  errorMgr_.AddMessage(kLevelError, "Test::Earlier", "an earlier error");
  const xml::Document doc = Parse(SecurityFile(""));
  EXPECT_TRUE(CRepositoryMgr::SetCheckSum(errorMgr_, doc));
  EXPECT_FALSE(errorMgr_.IsError());
  EXPECT_TRUE(Check(doc, false));
}

// ---- Repository documents ------------------------------------------------------

TEST_F(ChecksumDocument, RepositoryDocumentsKeepTheirChecksumUnderTheRoot) {
  const xml::Document doc = CreateXMLDoc(errorMgr_, "t:TarvoRepository");
  // Products of a security file inside a repository document are not the container.
  const xml::Node products = GetOrCreateChildElement(
      GetOrCreateChildElement(GetOrCreateChildElement(doc.DocumentElement(), "t:vscSetup"), "t:host"), "t:products");
  GetOrCreateChildElement(products, "t:Product");
  ASSERT_TRUE(CRepositoryMgr::SetCheckSum(errorMgr_, doc));
  EXPECT_EQ(doc.DocumentElement().LastChild().NodeName(), "t:checksum");
  EXPECT_TRUE(doc.SelectSingleNode("t:TarvoRepository/t:vscSetup/t:host/t:products/t:checksum").IsNull());
  std::string stored;
  GetXmlValue(doc, "t:TarvoRepository/t:checksum/@value", &stored);
  EXPECT_EQ(stored, Stored(doc));
  EXPECT_TRUE(Check(doc, false));
  GetOrCreateChildElement(doc.DocumentElement(), "t:File");
  EXPECT_FALSE(Check(doc, false));
}

// ---- Documents whose checksum cannot be computed -------------------------------

TEST_F(ChecksumDocument, WithoutTheContainerNothingIsComputedAndTheCheckFails) {
  const xml::Document doc = Parse(std::string("<t:vscSetup xmlns:t=\"") + secfile::kSecurityFileNamespace +
                                  "\"><t:host/></t:vscSetup>");
  EXPECT_EQ(CRepositoryMgr::ComputeCheckSum(errorMgr_, doc), "");
  ASSERT_EQ(errorMgr_.Entries().size(), 1u);
  EXPECT_EQ(Entry(0).level, kLevelError);
  EXPECT_EQ(Entry(0).function, "CRepositoryMgr::ComputeCheckSum");
  EXPECT_EQ(Entry(0).message, "The checksum node could not be found! What happend?");

  // No stored value and no computed one must not count as equal.
  errorMgr_.ResetMessages();
  EXPECT_FALSE(Check(doc, false));
  ASSERT_EQ(errorMgr_.Entries().size(), 2u);
  EXPECT_EQ(Entry(0).message, "The checksum node could not be found! What happend?");
  EXPECT_EQ(Entry(1).message, "Hash Check failed:  C:\\Setup\\Station.xml");
  EXPECT_EQ(Entry(1).level, kLevelCritical);
  EXPECT_EQ(errorMgr_.GetHighestLevel(), kLevelCritical);

  errorMgr_.ResetMessages();
  EXPECT_FALSE(Check(doc, true));
  EXPECT_EQ(errorMgr_.GetHighestLevel(), kLevelError);
}

TEST_F(ChecksumDocument, SetCheckSumWithoutTheContainerChangesNothing) {
  const xml::Document doc = Parse(std::string("<t:vscSetup xmlns:t=\"") + secfile::kSecurityFileNamespace +
                                  "\"><t:host/></t:vscSetup>");
  const std::string before = doc.Xml();
  EXPECT_FALSE(CRepositoryMgr::SetCheckSum(errorMgr_, doc));
  ASSERT_EQ(errorMgr_.Entries().size(), 1u);
  EXPECT_EQ(Entry(0).level, kLevelError);
  EXPECT_EQ(Entry(0).function, "CRepositoryMgr::SetCheckSum");
  EXPECT_EQ(Entry(0).message, "The root node where the t:checksum node should be placed could not be found.");
  EXPECT_EQ(doc.Xml(), before);
}

TEST_F(ChecksumDocument, TextThatDoesNotLoadAgainIsNeitherSignedNorPassed) {
  const xml::Document doc = Parse(SecurityFile("old"));
  // A prefix nothing declares: the text is no longer well-formed XML.
  const xml::Node body = doc.SelectSingleNode("t:vscSetup/t:host/t:body");
  ASSERT_FALSE(body.AppendChild(doc.CreateElement("u:extra")).IsNull());
  // An error of the same level was recorded before: the new entry does not
  // raise the highest level, so the error flag alone would not tell.
  errorMgr_.AddMessage(kLevelError, "Test::Earlier", "an earlier error");
  EXPECT_FALSE(CRepositoryMgr::SetCheckSum(errorMgr_, doc));
  EXPECT_EQ(Stored(doc), "old");
  ASSERT_EQ(errorMgr_.Entries().size(), 2u);
  EXPECT_EQ(Entry(1).message, "The duplicate XML document couldn't be created. Checksum could not be validated");
  EXPECT_FALSE(Check(doc, true));
}

TEST_F(ChecksumDocument, NullDocumentsFailQuietlyForTheCaller) {
  EXPECT_EQ(CRepositoryMgr::ComputeCheckSum(errorMgr_, xml::Document()), "");
  EXPECT_FALSE(CRepositoryMgr::SetCheckSum(errorMgr_, xml::Document()));
  EXPECT_FALSE(Check(xml::Document(), true));
  EXPECT_EQ(Stored(xml::Document()), "");
}

// ---- Saving and files ----------------------------------------------------------

class ChecksumDocumentFiles : public ChecksumDocument {
 protected:
  xml::Document Load(const std::string& path) {
    xml::Document doc;
    EXPECT_EQ(LoadXmlFile(path, &doc), kLoadXmlOk) << path;
    return doc;
  }
  TestHost host_;
};

TEST_F(ChecksumDocumentFiles, ASavedFileVerifiesWhenLoadedAgainInItsEncoding) {
  std::string utf16 = SecurityFile("");
  utf16.replace(utf16.find("UTF-8"), 5, "UTF-16");
  const xml::Document doc = Parse(utf16);
  ASSERT_TRUE(CRepositoryMgr::SaveXMLWithHash(errorMgr_, doc, "C:\\Station.xml"));
  EXPECT_EQ(host_.ReadHostFile("C:\\Station.xml").substr(0, 2), "\xFF\xFE");
  EXPECT_TRUE(Check(Load("C:\\Station.xml"), false));

  const xml::Document utf8 = Parse(SecurityFile("stale"));
  ASSERT_TRUE(CRepositoryMgr::SaveXMLWithHash(errorMgr_, utf8, "C:\\Utf8.xml"));
  EXPECT_EQ(host_.ReadHostFile("C:\\Utf8.xml").substr(0, 5), "<?xml");
  EXPECT_TRUE(Check(Load("C:\\Utf8.xml"), false));
  EXPECT_TRUE(errorMgr_.Entries().empty());
}

TEST_F(ChecksumDocumentFiles, AFailedSaveIsAnError) {
  const xml::Document doc = Parse(SecurityFile(""));
  EXPECT_FALSE(CRepositoryMgr::SaveXMLWithHash(errorMgr_, doc, "C:\\NoFolder\\Station.xml"));
  ASSERT_EQ(errorMgr_.Entries().size(), 1u);
  EXPECT_EQ(Entry(0).level, kLevelError);
  EXPECT_EQ(Entry(0).function, "CRepositoryMgr::SaveXMLWithHash");
  EXPECT_EQ(Entry(0).message, "Could not save xml file 'C:\\NoFolder\\Station.xml'");
}

TEST_F(ChecksumDocumentFiles, NothingIsSavedWhenTheChecksumCannotBeSet) {
  const xml::Document doc = Parse("<t:vscSetup xmlns:t=\"urn:example\"/>");
  EXPECT_FALSE(CRepositoryMgr::SaveXMLWithHash(errorMgr_, doc, "C:\\Station.xml"));
  xml::Document none;
  EXPECT_EQ(LoadXmlFile("C:\\Station.xml", &none), kLoadXmlFileNotFound);
}

TEST_F(ChecksumDocumentFiles, TheShippedExamplesVerify) {
  for (const char* example : {"/examples/ControlStation.xml", "/examples/DataServer.xml"}) {
    const std::string path = host_.WindowsPathOf(std::string(TARVO_SOURCE_DIR) + example);
    EXPECT_TRUE(CRepositoryMgr::CheckCheckSum(errorMgr_, Load(path), path, false)) << example;
  }
  for (const auto& entry : errorMgr_.Entries()) ADD_FAILURE() << entry->message;
}

}  // namespace
