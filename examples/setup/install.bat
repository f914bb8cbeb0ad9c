@echo off
rem The example's setup step: runs in the unzip directory after the unpack.
echo Installed from %CD% > installed.txt
dir /b docs >> installed.txt
exit /b 0
