// Resource ids shared by the dialog template and the code that uses it.
#pragma once

#define IDD_UPDATE 101
#define IDC_BACK 4
#define IDC_INFO 1001
