#include "core/registry_document.h"

#include <gtest/gtest.h>

namespace dbx {
namespace {

TEST(RegistryDocument, NamesAndKeysMatchWithoutRegardToCase) {
  RegistryDocument doc;
  doc.WriteText("Software\\DEvOrevi\\Saver\\Option", "Keydown", "False");
  EXPECT_EQ(doc.ReadText("software\\devorevi\\SAVER\\option", "KeyDown"), "False");
  // A second write under another spelling replaces the value and keeps the first spelling.
  doc.WriteText("SOFTWARE\\DEVOREVI\\SAVER\\OPTION", "KEYDOWN", "True");
  EXPECT_EQ(doc.ReadText("Software\\DEvOrevi\\Saver\\Option", "keydown"), "True");
  ASSERT_EQ(doc.keys().back().values.size(), 1u);
  EXPECT_EQ(doc.keys().back().values[0].name, "Keydown");
}

TEST(RegistryDocument, WriteCreatesEveryParentKey) {
  RegistryDocument doc;
  doc.WriteText("A\\B\\C", "", "x");
  EXPECT_TRUE(doc.HasKey("A"));
  EXPECT_TRUE(doc.HasKey("a\\b"));
  EXPECT_TRUE(doc.HasKey("A\\B\\C"));
  EXPECT_FALSE(doc.HasKey("A\\C"));
  EXPECT_EQ(doc.ReadText("A\\B\\C", ""), "x");  // the default value
  EXPECT_EQ(doc.ReadText("A\\B", ""), std::nullopt);
}

TEST(RegistryDocument, AbsentAndNonTextValuesReadAsNothing) {
  RegistryDocument doc;
  EXPECT_EQ(doc.ReadText("Nope", "x"), std::nullopt);
  doc.WriteRaw("K", "Count", "dword:00000005");
  EXPECT_EQ(doc.ReadText("K", "Count"), std::nullopt);
  doc.WriteText("K", "Empty", "");
  EXPECT_EQ(doc.ReadText("K", "Empty"), "");
}

TEST(RegistryDocument, SerializeParseRoundTripKeepsEveryByte) {
  RegistryDocument doc;
  const std::string tricky =
      std::string("quote \" back \\ tab\t nl\n cr\r ctl\x01 utf8 \xC3\xA9", 40);
  doc.WriteText("Software\\Odd ] [\"name\\Option", "", "");
  doc.WriteText("Software\\Odd ] [\"name\\Option", "we\"ird=name", tricky);
  doc.WriteRaw("Software\\Odd ] [\"name\\Option", "Num", "dword:00000001");
  const auto back = RegistryDocument::Parse(doc.Serialize());
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->ReadText("Software\\Odd ] [\"name\\Option", "WE\"IRD=NAME"), tricky);
  EXPECT_EQ(back->ReadText("Software\\Odd ] [\"name\\Option", ""), "");
  EXPECT_EQ(back->ReadText("Software\\Odd ] [\"name\\Option", "Num"), std::nullopt);
  EXPECT_EQ(back->Serialize(), doc.Serialize());
}

TEST(RegistryDocument, DamagedTextIsRejectedWhole) {
  RegistryDocument doc;
  doc.WriteText("K", "a", "1");
  doc.WriteText("K", "b", "2");
  const std::string good = doc.Serialize();
  ASSERT_TRUE(RegistryDocument::Parse(good).has_value());
  // Every cut short of the whole text is detected (the trailer is missing or incomplete).
  for (std::size_t cut = 0; cut + 1 < good.size(); ++cut) {
    EXPECT_FALSE(RegistryDocument::Parse(good.substr(0, cut)).has_value()) << "cut at " << cut;
  }
  const char* bad[] = {
      "Dazzlebox settings 1\n\"a\"=\"1\"\n; end\n",         // value before any key
      "Dazzlebox settings 1\n[K]\n\"a\"=\"1\n; end\n",      // unterminated text
      "Dazzlebox settings 1\n[K]\n\"a\"\"1\"\n; end\n",     // no '='
      "Dazzlebox settings 1\n[K]\n\"a\"=\"\\q\"\n; end\n",  // unknown escape
      "Dazzlebox settings 2\n[K]\n; end\n",                 // another format
      "\0\0\0\0",
  };
  for (const char* text : bad) EXPECT_FALSE(RegistryDocument::Parse(text).has_value()) << text;
  EXPECT_TRUE(RegistryDocument::Parse("Dazzlebox settings 1\r\n[K]\r\n@=\"v\"\r\n; end\r\n"));
}

}  // namespace
}  // namespace dbx
