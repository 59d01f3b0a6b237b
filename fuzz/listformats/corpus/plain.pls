[playlist]
File1=a.ogg
Title1=One
Length1=30
NumberOfEntries=1
