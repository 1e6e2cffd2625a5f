#pragma once
/// Resource, control, command and message numbers of the send page, the contact picker,
/// the sending options and the settings screens. They are fixed: the resource library's
/// templates and menus use the same numbers.

#include "platform/types.h"

namespace ui::ids {

// Dialog templates and menu bars.
inline constexpr UINT kContactPickerDialog = 102;
inline constexpr UINT kOptionsMenuBar = 121;
inline constexpr UINT kSendPageDialog = 145;
inline constexpr UINT kSendPageMenuBar = 146;
inline constexpr UINT kOptionsDialog = 152;
inline constexpr UINT kProfileEditorDialog = 153;
inline constexpr UINT kSettingsDialog = 154;
inline constexpr UINT kProfileListDialog = 155;
inline constexpr UINT kActiveProfileIcon = 156;
inline constexpr UINT kProfileEditorMenuBar = 157;
inline constexpr UINT kSettingsMenuBar = 158;
inline constexpr UINT kProfileListMenuBar = 159;
inline constexpr UINT kContactPickerMenuBar = 191;

// Send page controls.
inline constexpr int kPhoneEdit = 1078;
inline constexpr int kEmailEdit = 1082;
inline constexpr int kSubjectEdit = 1085;
inline constexpr int kSizeLine = 1023;
inline constexpr int kLengthLine = 1024;
inline constexpr int kPhoneLabel = 1019;
inline constexpr int kEmailLabel = 1020;
inline constexpr int kSubjectLabel = 1021;
inline constexpr int kMessageLabel = 1022;

// Send page commands.
inline constexpr UINT kCmdSend = 40094;
inline constexpr UINT kCmdOptions = 40100;
inline constexpr UINT kCmdInsertContact = 40101;
inline constexpr UINT kCmdClose = 40102;
inline constexpr UINT kCmdSave = 40126;

// Sending options controls (lists) and commands.
inline constexpr int kResolutionList = 1028;
inline constexpr int kValidityList = 1029;
inline constexpr int kDeliveryList = 1030;
inline constexpr int kPriorityList = 1031;
inline constexpr int kResolutionLabel = 1033;
inline constexpr int kValidityLabel = 1034;
inline constexpr int kDeliveryLabel = 1035;
inline constexpr int kPriorityLabel = 1036;
inline constexpr UINT kCmdDone = 40028;
inline constexpr UINT kCmdCancel = 40036;

// Contact picker.
inline constexpr int kListControl = 2003;
inline constexpr UINT kCmdPickerSelect = 40185;
inline constexpr UINT kCmdPickerSim = 40189;
inline constexpr UINT kCmdPickerContacts = 40190;

// General settings controls and commands.
inline constexpr int kSaveSentBox = 1106;
inline constexpr int kReceiveNowBox = 1072;
inline constexpr int kSortList = 1010;
inline constexpr int kSizeList = 1009;
inline constexpr int kAttemptsList = 1013;
inline constexpr int kNetworkList = 1083;
inline constexpr int kSortLabel = 1114;
inline constexpr int kSizeLabel = 1115;
inline constexpr int kAttemptsLabel = 1116;
inline constexpr int kNetworkLabel = 1117;
inline constexpr UINT kCmdSettingsSave = 40002;
inline constexpr UINT kCmdProfiles = 40007;
inline constexpr UINT kCmdSettingsClose = 40009;

// Profile list and editor.
inline constexpr UINT kCmdProfileEdit = 40012;
inline constexpr UINT kCmdProfileDelete = 40161;
inline constexpr UINT kCmdProfileNew = 40171;
inline constexpr UINT kCmdProfileSelect = 40173;
inline constexpr UINT kCmdProfileSave = 40163;
inline constexpr UINT kCmdProfileClose = 40027;
inline constexpr int kProfileNameEdit = 1090;
inline constexpr int kProfileUrlEdit = 1091;
inline constexpr int kProfileGatewayEdit = 1093;
inline constexpr int kProfileTransportList = 1118;
inline constexpr int kProfileProxyEdit = 1121;
inline constexpr int kProfileNameLabel = 1033;
inline constexpr int kProfileUrlLabel = 1034;
inline constexpr int kProfileGatewayLabel = 1035;
inline constexpr int kProfileTransportLabel = 1117;
inline constexpr int kProfileProxyLabel = 1120;

// Strings.
inline constexpr UINT kStrUrlPrefix = 108;
inline constexpr UINT kStrNeedUrl = 109;
inline constexpr UINT kStrNeedGateway = 110;
inline constexpr UINT kStrTransportWsp = 114;
inline constexpr UINT kStrTransportHttp = 115;
inline constexpr UINT kStrBadProxy = 116;
inline constexpr UINT kStrPickerTitle = 1025;
inline constexpr UINT kStrEmailInvalid = 1050;
inline constexpr UINT kStrPhoneInvalid = 1051;
inline constexpr UINT kStrListTooLong = 1052;
inline constexpr UINT kStrNoContacts = 1053;
inline constexpr UINT kStrContactPhoneInvalid = 1057;
inline constexpr UINT kStrContactEmailInvalid = 1058;
inline constexpr UINT kStrSizeLine = 1060;
inline constexpr UINT kStrLengthLine = 1061;
inline constexpr UINT kStrCannotAdd = 1067;
inline constexpr UINT kStrKilobytes = 1069;
inline constexpr UINT kStrTooBig = 1070;
inline constexpr UINT kStrMegabytes = 1071;
inline constexpr UINT kStrNeedName = 40123;
inline constexpr UINT kStrNameTaken = 40125;

// Window message from the sending options to the send page: lParam the new resolution.
inline constexpr UINT kMsgResolutionChanged = 2030;

}  // namespace ui::ids
