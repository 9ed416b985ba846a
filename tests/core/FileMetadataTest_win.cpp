// A file keeps everything but its bytes on Windows: its attributes, its creation time, its access
// list and its alternate data streams go with the new content that replaces it; where the new
// content cannot be given one of them, or it cannot be told, the file is rewritten in place and
// keeps them by itself. Each case first tries whether the system under the tests keeps the thing
// at all (Wine keeps no streams, no creation time, no access list and no not-content-indexed
// attribute that a program sets), and says why when it is skipped.
#include <windows.h>

// Needs the types windows.h declares.
#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>
// windows.h names its own EncryptFile and DecryptFile so.
#undef EncryptFile
#undef DecryptFile

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "FaultInjection.h"
#include "FileTransform.h"
#include "PathInfo.h"
#include "TextCodec.h"
#include "TransformTestSupport.h"
#include "WinTestFiles.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using testing::AttributesOf;
using testing::Bytes;
using testing::FolderNames;
using testing::HeldOpen;
using testing::kHiddenAttribute;
using testing::kSystemAttribute;
using testing::RandomBytes;
using testing::ReadFileAt;
using testing::ReferenceEncrypt;
using testing::ScratchFolder;
using testing::SetAttributes;
using testing::WriteFileAt;

constexpr std::int32_t kKey = 61;
constexpr std::uint32_t kArchiveAttribute = FILE_ATTRIBUTE_ARCHIVE;
constexpr std::uint32_t kNotIndexedAttribute = FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr std::uint32_t kTemporaryAttribute = FILE_ATTRIBUTE_TEMPORARY;
constexpr std::uint32_t kSparseAttribute = FILE_ATTRIBUTE_SPARSE_FILE;
// The attributes a file could lose or gain by being replaced.
constexpr std::uint32_t kWatchedAttributes = kHiddenAttribute | kSystemAttribute |
                                             kArchiveAttribute | kNotIndexedAttribute |
                                             kTemporaryAttribute | kSparseAttribute;

struct HandleCloser {
    void operator()(void* handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

Handle OpenForAttributes(const fs::path& path, DWORD access) {
    const HANDLE handle = CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE) << path;
    return Handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

std::uint64_t IndexOf(const fs::path& path) {
    const std::optional<FileId> id = IdentifyFile(path);
    EXPECT_TRUE(id.has_value()) << path;
    return id ? id->index : 0;
}

std::uint64_t CreationTimeOf(const fs::path& path) {
    const Handle file = OpenForAttributes(path, 0);
    FILETIME created{};
    EXPECT_TRUE(file && GetFileTime(file.get(), &created, nullptr, nullptr));
    return (std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

void SetCreationTime(const fs::path& path, std::uint64_t time) {
    const Handle file = OpenForAttributes(path, FILE_WRITE_ATTRIBUTES);
    const FILETIME created{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    EXPECT_TRUE(file && SetFileTime(file.get(), &created, nullptr, nullptr));
}

// The access list of a file in the system's text form, "D:P(...)" when it is protected.
std::wstring AccessListOf(const fs::path& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error =
        GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS)) << path;
    wchar_t* text = nullptr;
    if (error == ERROR_SUCCESS) {
        EXPECT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
    }
    const std::wstring list = text != nullptr ? text : L"";
    LocalFree(text);
    LocalFree(descriptor);
    return list;
}

void SetAccessList(const fs::path& path, const std::wstring& text) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    EXPECT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted));
    EXPECT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, list, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    LocalFree(descriptor);
}

// The user the tests run as, in the system's text form.
std::wstring CurrentUser() {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    std::vector<BYTE> user(256);
    DWORD size = 0;
    EXPECT_TRUE(
        GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size));
    CloseHandle(token);
    wchar_t* text = nullptr;
    EXPECT_TRUE(
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text));
    const std::wstring sid = text != nullptr ? text : L"";
    LocalFree(text);
    return sid;
}

// Whether the file system lists a file's streams; where it does not, "name:stream" may not be a
// stream at all (under Wine it makes a file of that name), so nothing of the kind is written.
bool ListsStreams(const fs::path& file) {
    const Handle handle = OpenForAttributes(file, GENERIC_READ);
    std::vector<std::uint64_t> buffer(1024);
    return handle && GetFileInformationByHandleEx(
                         handle.get(), FileStreamInfo, buffer.data(),
                         static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t))) != FALSE;
}

// The names of a file's streams besides its content, sorted.
std::vector<std::wstring> StreamNames(const fs::path& file) {
    const Handle handle = OpenForAttributes(file, GENERIC_READ);
    std::vector<std::uint64_t> buffer(1024);
    std::vector<std::wstring> names;
    if (!handle ||
        !GetFileInformationByHandleEx(handle.get(), FileStreamInfo, buffer.data(),
                                      static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)))) {
        ADD_FAILURE() << "cannot list the streams of " << file;
        return names;
    }
    for (auto* at = reinterpret_cast<const unsigned char*>(buffer.data());;) {
        const auto* stream = reinterpret_cast<const FILE_STREAM_INFO*>(at);
        const std::wstring name(stream->StreamName, stream->StreamNameLength / sizeof(wchar_t));
        if (name != L"::$DATA") {
            names.push_back(name);
        }
        if (stream->NextEntryOffset == 0) {
            std::sort(names.begin(), names.end());
            return names;
        }
        at += stream->NextEntryOffset;
    }
}

fs::path StreamOf(const fs::path& file, const std::wstring& name) {
    return fs::path(file.native() + L":" + name);
}

const Bytes kZoneIdentifier = [] {
    const std::string text = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.org/r.pdf\r\n";
    return Bytes(text.begin(), text.end());
}();

class FileMetadataWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFileAt(m_file, m_plain);
        m_index = IndexOf(m_file);
    }

    // The file holds its new content under its one name; replaced by a new file, or rewritten in
    // place.
    void ExpectEncrypted(bool replaced) {
        const FileOutcome outcome = EncryptFile(m_file, kKey);
        ASSERT_TRUE(outcome.ok()) << Utf16ToUtf8(outcome.failure->description);
        EXPECT_EQ(ReadFileAt(m_file), ReferenceEncrypt(m_plain, kKey));
        EXPECT_EQ(FolderNames(m_folder.path()), std::vector<std::string>{"report.pdf"});
        if (replaced) {
            EXPECT_NE(IndexOf(m_file), m_index) << "rewritten in place, not replaced";
        } else {
            EXPECT_EQ(IndexOf(m_file), m_index) << "replaced, not rewritten in place";
        }
    }

    ScratchFolder m_folder;
    fs::path m_file = m_folder / "report.pdf";
    Bytes m_plain = RandomBytes(20000, 51);
    std::uint64_t m_index = 0;
};

TEST_F(FileMetadataWindows, HiddenSystemAndArchiveGoWithTheNewContent) {
    for (const std::uint32_t attributes :
         {kHiddenAttribute | kSystemAttribute, kHiddenAttribute | kArchiveAttribute}) {
        SetAttributes(m_file, attributes);
        const std::uint32_t before = AttributesOf(m_file) & kWatchedAttributes;
        ASSERT_NE(before & kHiddenAttribute, 0u);
        ExpectEncrypted(true);
        EXPECT_EQ(AttributesOf(m_file) & kWatchedAttributes, before) << "set " << attributes;
        m_plain = ReadFileAt(m_file);
        m_index = IndexOf(m_file);
    }
}

TEST_F(FileMetadataWindows, NotContentIndexedAndTemporaryGoWithTheNewContent) {
    SetAttributes(m_file, kNotIndexedAttribute | kTemporaryAttribute);
    const std::uint32_t before = AttributesOf(m_file) & kWatchedAttributes;
    if ((before & kNotIndexedAttribute) == 0) {
        GTEST_SKIP() << "this system does not keep the not-content-indexed attribute (Wine drops "
                        "it)";
    }
    ExpectEncrypted(true);
    EXPECT_EQ(AttributesOf(m_file) & kWatchedAttributes, before);
}

TEST_F(FileMetadataWindows, CreationTimeGoesWithTheNewContent) {
    // 3 February 2001, in 100-nanosecond steps since 1601.
    constexpr std::uint64_t kCreated = 126256032000000000;
    SetCreationTime(m_file, kCreated);
    if (CreationTimeOf(m_file) != kCreated) {
        GTEST_SKIP() << "this system does not keep a creation time that a program sets (Wine "
                        "reports the Unix file's own)";
    }
    ExpectEncrypted(true);
    EXPECT_EQ(CreationTimeOf(m_file), kCreated);
}

TEST_F(FileMetadataWindows, AccessListGoesWithTheNewContent) {
    // Protected from the folder's entries: the owner may do anything, everybody may read.
    const std::wstring list = L"D:P(A;;FA;;;" + CurrentUser() + L")(A;;FR;;;WD)";
    SetAccessList(m_file, list);
    const std::wstring before = AccessListOf(m_file);
    if (before.rfind(L"D:P", 0) != 0 || before.find(L"WD)") == std::wstring::npos) {
        GTEST_SKIP() << "this system does not keep an access list that a program sets (Wine "
                        "reads back what the Unix permission bits give: "
                     << Utf16ToUtf8(std::u16string(before.begin(), before.end())) << ")";
    }
    ExpectEncrypted(true);
    EXPECT_EQ(AccessListOf(m_file), before);
}

TEST_F(FileMetadataWindows, AlternateDataStreamsGoWithTheNewContent) {
    if (!ListsStreams(m_file)) {
        GTEST_SKIP() << "this system lists no alternate data streams (Wine has none: "
                        "GetFileInformationByHandleEx(FileStreamInfo) says \"invalid function\", "
                        "and \"name:stream\" names a file of its own there)";
    }
    // The download mark, and a stream of several blocks with every byte value in it.
    const Bytes tag = RandomBytes(200000, 52);
    WriteFileAt(StreamOf(m_file, L"Zone.Identifier"), kZoneIdentifier);
    WriteFileAt(StreamOf(m_file, L"kestrove.tag"), tag);
    WriteFileAt(StreamOf(m_file, L"empty"), Bytes{});
    const std::vector<std::wstring> before = StreamNames(m_file);
    ASSERT_EQ(before.size(), 3u);
    ExpectEncrypted(true);
    EXPECT_EQ(StreamNames(m_file), before);
    EXPECT_EQ(ReadFileAt(StreamOf(m_file, L"Zone.Identifier")), kZoneIdentifier);
    EXPECT_EQ(ReadFileAt(StreamOf(m_file, L"kestrove.tag")), tag);
    EXPECT_TRUE(ReadFileAt(StreamOf(m_file, L"empty")).empty());
}

// A stream that another program holds without sharing cannot be read, so a new file cannot be
// given it: the file is rewritten in place, where it keeps the stream.
TEST_F(FileMetadataWindows, AStreamThatCannotBeCopiedKeepsTheFileInPlace) {
    if (!ListsStreams(m_file)) {
        GTEST_SKIP() << "this system lists no alternate data streams (Wine has none)";
    }
    WriteFileAt(StreamOf(m_file, L"Zone.Identifier"), kZoneIdentifier);
    {
        const HeldOpen held(StreamOf(m_file, L"Zone.Identifier"), HeldOpen::kShareNothing);
        ExpectEncrypted(false);
    }
    EXPECT_EQ(ReadFileAt(StreamOf(m_file, L"Zone.Identifier")), kZoneIdentifier);
}

// Counts the calls that list streams or ask for extended attributes, and refuses the one
// numbered failAt (from 1), as a file system or a filter might; 0 refuses none.
class AttributeCallRefused final : public platform::CallFaults {
  public:
    explicit AttributeCallRefused(int failAt) : m_failAt(failAt) {}
    int Before(platform::SystemCall call) override {
        if (call != platform::SystemCall::Attributes) {
            return 0;
        }
        return ++m_count == m_failAt ? ERROR_ACCESS_DENIED : 0;
    }
    [[nodiscard]] int count() const { return m_count; }

  private:
    int m_failAt;
    int m_count = 0;
};

// Where it cannot be told what streams or extended attributes a file has, whichever question
// fails, the file is rewritten in place: whatever it has stays with it.
TEST_F(FileMetadataWindows, StreamsOrAttributesThatCannotBeToldKeepTheFileInPlace) {
    const bool streams = ListsStreams(m_file);
    const auto prepare = [&] {
        WriteFileAt(m_file, m_plain);
        if (streams) {
            WriteFileAt(StreamOf(m_file, L"Zone.Identifier"), kZoneIdentifier);
        }
        SetAttributes(m_file, kHiddenAttribute);
        m_index = IndexOf(m_file);
    };
    prepare();
    AttributeCallRefused counter(0);
    {
        const testing::FaultsInPlace inPlace(counter);
        ExpectEncrypted(true);
    }
    // The extended attributes and the list of streams at least.
    ASSERT_GE(counter.count(), 2);
    for (int failAt = 1; failAt <= counter.count(); ++failAt) {
        SCOPED_TRACE("question " + std::to_string(failAt) + " refused");
        ASSERT_EQ(DeleteFileW(m_file.c_str()), TRUE);
        prepare();
        const std::uint32_t attributes = AttributesOf(m_file) & kWatchedAttributes;
        AttributeCallRefused refused(failAt);
        {
            const testing::FaultsInPlace inPlace(refused);
            ExpectEncrypted(false);
        }
        EXPECT_EQ(AttributesOf(m_file) & kWatchedAttributes, attributes);
        if (streams) {
            EXPECT_EQ(ReadFileAt(StreamOf(m_file, L"Zone.Identifier")), kZoneIdentifier);
        }
    }
}

// How a file's blocks are stored is not an attribute a new file takes by being given it: a
// sparse file is rewritten in place, and stays sparse.
TEST_F(FileMetadataWindows, ASparseFileIsRewrittenInPlace) {
    {
        const Handle file = OpenForAttributes(m_file, GENERIC_READ | GENERIC_WRITE);
        DWORD returned = 0;
        ASSERT_TRUE(file);
        ASSERT_TRUE(DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned,
                                    nullptr));
    }
    if ((AttributesOf(m_file) & kSparseAttribute) == 0) {
        GTEST_SKIP() << "this system keeps no sparse files (Wine accepts FSCTL_SET_SPARSE and "
                        "keeps nothing)";
    }
    ExpectEncrypted(false);
    EXPECT_NE(AttributesOf(m_file) & kSparseAttribute, 0u);
}

}  // namespace
}  // namespace kestrove
