// The console's live panel, served by the application on its WebSocket port.
'use strict';
