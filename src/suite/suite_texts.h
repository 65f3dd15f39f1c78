// The wording of orva.cgi's own pages, in one place. The board's pages keep
// theirs in wbbs.lng; these are fixed English texts.
#pragma once

namespace suite_text {

inline constexpr char kSuiteName[] = "ORVA";
inline constexpr char kLoginTitle[] = "Log in";
inline constexpr char kUserId[] = "User ID";
inline constexpr char kPassword[] = "Password";
inline constexpr char kLoginButton[] = "Log in";
inline constexpr char kLoginRefused[] = "The user ID or the password is incorrect.";
inline constexpr char kSessionEnded[] = "Your session has ended. Please log in again.";
inline constexpr char kLoggedOff[] = "You have logged off.";
inline constexpr char kLoginNotStored[] = "The login could not be completed just now. Please try again.";
inline constexpr char kStillLoggedOn[] = "You are still logged in: the log-off could not be stored. Please try again.";
inline constexpr char kUnknownRequest[] = "This request is not known here.";

inline constexpr char kWelcome[] = "Welcome";
inline constexpr char kChooseFolder[] = "Choose a folder in the tree on the left.";
inline constexpr char kFolders[] = "Folders";
inline constexpr char kNoFolders[] = "No folder is open to you.";
inline constexpr char kUnreadAll[] = "Unread messages";
inline constexpr char kSearchAll[] = "Search all folders";
inline constexpr char kPreferences[] = "Preferences";
inline constexpr char kLogOff[] = "Log off";

inline constexpr char kAccessTitle[] = "Access rights";
inline constexpr char kNoSuchFolder[] = "This folder does not exist.";
inline constexpr char kNoAccess[] = "You have no access to this folder.";
inline constexpr char kNotAdministrator[] = "Only the folder's administrators may change its access rights.";
inline constexpr char kThresholds[] = "Users of level %d and above may read, of level %d and above write.";
inline constexpr char kKind[] = "Kind";
inline constexpr char kId[] = "ID";
inline constexpr char kName[] = "Name";
inline constexpr char kLevel[] = "Level";
inline constexpr char kKindUser[] = "User";
inline constexpr char kKindGroup[] = "Group";
inline constexpr char kNoGrants[] = "The folder grants nobody rights of their own.";
inline constexpr char kGrantsUnread[] = "The access list cannot be read just now. Please try again.";
inline constexpr char kLevelRead[] = "read";
inline constexpr char kLevelWrite[] = "read and write";
inline constexpr char kLevelAdministration[] = "folder administration";
inline constexpr char kChange[] = "Change";
inline constexpr char kRemove[] = "Remove";
inline constexpr char kAdd[] = "Add";
inline constexpr char kBackToFolder[] = "Back to the folder";
inline constexpr char kNoSuchUser[] = "There is no user with this ID.";
inline constexpr char kNoSuchGroup[] = "There is no group with this number.";
inline constexpr char kBadLevel[] = "The level must be a number from 1 to 8.";
inline constexpr char kNoSuchGrant[] = "The folder has no such entry.";
inline constexpr char kSaved[] = "Saved.";
inline constexpr char kBusy[] = "Someone else is changing the data just now. Please try again.";
inline constexpr char kNotSaved[] = "The change could not be saved.";

inline constexpr char kLanguage[] = "Language";
inline constexpr char kLanguageDefault[] = "the installation's language";
inline constexpr char kLayout[] = "Folder layout";
inline constexpr char kThreeFrames[] = "three frames (header, list, message)";
inline constexpr char kTwoFrames[] = "two frames (header, list or message)";
inline constexpr char kCompose[] = "Write messages";
inline constexpr char kComposeInFrame[] = "in the folder's frame";
inline constexpr char kComposeInWindow[] = "in a window of their own";
inline constexpr char kDisplay[] = "Message list";
inline constexpr char kUnreadList[] = "Unread list";
inline constexpr char kUnreadFull[] = "messages in full";
inline constexpr char kUnreadTable[] = "a table";
inline constexpr char kOldPassword[] = "Current password";
inline constexpr char kNewPassword[] = "New password";
inline constexpr char kNewPasswordAgain[] = "New password again";
inline constexpr char kPasswordHint[] = "Leave the password fields empty to keep the password.";
inline constexpr char kSave[] = "Save";
inline constexpr char kSharedAccount[] = "The settings of a shared account cannot be changed.";
inline constexpr char kBadSetting[] = "A setting has a value that is not offered.";
inline constexpr char kWrongPassword[] = "The current password is not correct.";
inline constexpr char kPasswordsDiffer[] = "The new password and its repetition differ.";
inline constexpr char kBadPassword[] =
    "A new password has 1 to 20 characters, without control characters.";

}  // namespace suite_text
