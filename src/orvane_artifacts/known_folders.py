"""Names of the shell's folder GUIDs: known folders (the GUIDs programs use for
Documents, System32...) and the class IDs of root namespace folders (My
Computer, Control Panel...). Keys are upper case, with braces, as `guid_text`
writes them; a GUID not listed keeps its text."""

from __future__ import annotations

import struct

_GUID = struct.Struct("<IHH")

FOLDER_NAMES: dict[str, str] = {
    # Root namespace folders (class IDs of root folder items).
    "{20D04FE0-3AEA-1069-A2D8-08002B30309D}": "My Computer",
    "{645FF040-5081-101B-9F08-00AA002F954E}": "Recycle Bin",
    "{450D8FBA-AD25-11D0-98A8-0800361B1103}": "My Documents",
    "{59031A47-3F72-44A7-89C5-5595FE6B30EE}": "User's Files",
    "{031E4825-7B94-4DC3-B131-E946B44C8DD5}": "Libraries",
    "{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}": "Network",
    "{208D2C60-3AEA-1069-A2D7-08002B30309D}": "My Network Places",
    "{21EC2020-3AEA-1069-A2DD-08002B30309D}": "Control Panel",
    "{26EE0668-A00A-44D7-9371-BEB064C98683}": "Control Panel",
    "{871C5380-42A0-1069-A2EA-08002B30309D}": "Internet Explorer",
    "{2227A280-3AEA-1069-A2DE-08002B30309D}": "Printers",
    "{7007ACC7-3202-11D1-AAD2-00805FC1270E}": "Network Connections",
    "{ED228FDF-9EA8-4870-83B1-96B02CFE0D52}": "My Games",
    "{4234D49B-0245-4DF3-B780-3893943456E1}": "Applications",
    "{9343812E-1C37-4A49-A12E-4B2D810D956B}": "Search Results",
    # Names seen in one source only; a wrong name here still shows the GUID
    # in the item's raw fields.
    "{018D5C66-4533-4307-9B53-224DE2ED1FE6}": "Cloud Files",
    "{679F85CB-0220-4080-B29B-5540CC05AAB6}": "Quick access",
    "{F874310E-B6B7-47DC-BC84-B9E6B38F5903}": "Home",
    # The folders under This PC (class IDs of volume-like items).
    "{088E3905-0323-4B02-9826-5D99428E115F}": "Downloads",
    "{D3162B92-9365-467A-956B-92703ACA08AF}": "Documents",
    "{24AD3AD4-A569-4530-98E1-AB02F9417AA8}": "Pictures",
    "{3DFDF296-DBEC-4FB4-81D1-6A3438BCF4DE}": "Music",
    "{F86FA3AB-70D2-4FC7-9C99-FCBF05467F3A}": "Videos",
    "{0DB7E03F-FC29-4DC6-9020-FF41B59E513A}": "3D Objects",
    # Known folders.
    "{B4BFCC3A-DB2C-424C-B029-7FE99A87C641}": "Desktop",
    "{FDD39AD0-238F-46AF-ADB4-6C85480369C7}": "Documents",
    "{374DE290-123F-4565-9164-39C4925E467B}": "Downloads",
    "{4BD8D571-6D19-48D3-BE97-422220080E43}": "Music",
    "{33E28130-4E1E-4676-835A-98395C3BC3BB}": "Pictures",
    "{18989B1D-99B5-455B-841C-AB7C74E4DDFC}": "Videos",
    "{5E6C858F-0E22-4760-9AFE-EA3317B67173}": "User Profile",
    "{0762D272-C50A-4BB0-A382-697DCD729B80}": "Users",
    "{DFDF76A2-C82A-4D63-906A-5644AC457385}": "Public",
    "{1AC14E77-02E7-4E5D-B744-2EB1AE5198B7}": "System32",
    "{D65231B0-B2F1-4857-A4CE-A8E7C6EA7D27}": "SysWOW64",
    "{F38BF404-1D43-42F2-9305-67DE0B28FC23}": "Windows",
    "{905E63B6-C1BF-494E-B29C-65B732D3D21A}": "Program Files",
    "{6D809377-6AF0-444B-8957-A3773F02200E}": "Program Files (x64)",
    "{7C5A40EF-A0FB-4BFC-874A-C0F2E0B9FA8E}": "Program Files (x86)",
    "{62AB5D82-FDC1-4DC3-A9DD-070D1D495D97}": "ProgramData",
    "{F1B32785-6FBA-4FCF-9D55-7B8E7F157091}": "LocalAppData",
    "{A520A1A4-1780-4FF6-BD18-167343C5AF16}": "LocalAppDataLow",
    "{3EB685DB-65F9-4CF6-A03A-E3EF65729F3D}": "RoamingAppData",
    "{625B53C3-AB48-4EC1-BA1F-A1EF4146FC19}": "Start Menu",
    "{A77F5D77-2E2B-44C3-A6A2-ABA601054A51}": "Programs",
    "{B97D20BB-F46A-4C97-BA10-5E3608430854}": "Startup",
    "{A4115719-D62E-491D-AA7C-E74B8BE3B067}": "Common Start Menu",
    "{0139D44E-6AFE-49F2-8690-3DAFCAE6FFB8}": "Common Programs",
    "{82A5EA35-D9CD-47C5-9629-E15D2F714E6E}": "Common Startup",
    "{C4AA340D-F20F-4863-AFEF-F87EF2E6BA25}": "Public Desktop",
    "{ED4824AF-DCE4-45A8-81E2-FC7965083634}": "Public Documents",
    "{3D644C9B-1FB8-4F30-9B45-F670235F79C0}": "Public Downloads",
    "{AE50C081-EBD2-438A-8655-8A092E34987A}": "Recent",
    "{1777F761-68AD-4D8A-87BD-30B759FA33DD}": "Favorites",
    "{56784854-C6CB-462B-8169-88E350ACB882}": "Contacts",
    "{4C5C32FF-BB9D-43B0-B5B4-2D72E54EAAA4}": "Saved Games",
    "{7D1D3A04-DEBB-4115-95CF-2F29DA2920DA}": "Searches",
    "{BFB9D5E0-C6A9-404C-B2B2-AE6DB6AF4968}": "Links",
    "{8983036C-27C0-404B-8F08-102D10DCFD74}": "SendTo",
    "{9E3995AB-1F9C-4F13-B827-48B24B6C7174}": "User Pinned",
    "{0AC0837C-BBF8-452A-850D-79D08E667CA7}": "My Computer",
    "{D20BEEC4-5CA8-4905-AE3B-BF251EA09B53}": "Network",
    "{82A74AEB-AEB4-465C-A014-D097EE346D63}": "Control Panel",
    "{B7534046-3ECB-4C18-BE4E-64CD4CB7D6AC}": "Recycle Bin",
    "{F3CE0F7C-4901-4ACC-8648-D5D44B04EF8F}": "User's Files",
    "{1B3EA5DC-B587-4786-B4EF-BD1DC332AEAE}": "Libraries",
    "{7B0DB17D-9CD2-4A93-9733-46CC89022E7C}": "Documents Library",
    "{2112AB0A-C86A-4FFE-A368-0DE96E47012E}": "Music Library",
    "{A990AE9F-A03B-4E80-94BC-9912D7504104}": "Pictures Library",
    "{491E922F-5643-4AF4-A7EB-4E7A138D8174}": "Videos Library",
}


def guid_text(data: bytes, at: int = 0) -> str:
    """"{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" of the 16 bytes at `at`: three
    little-endian fields, then eight bytes as stored. The caller checks that
    the bytes are there."""
    first, second, third = _GUID.unpack_from(data, at)
    rest = data[at + 8:at + 16].hex().upper()
    return f"{{{first:08X}-{second:04X}-{third:04X}-{rest[:4]}-{rest[4:]}}}"


def folder_name(guid: str) -> str | None:
    """The folder a GUID text (any letter case, with braces) stands for."""
    return FOLDER_NAMES.get(guid.upper())
