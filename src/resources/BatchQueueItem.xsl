<?xml version="1.0" encoding="UTF-8"?>
<!-- Shows the results file of one batch item (root element results): its date, time and result,
     and links to its log files. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>

  <xsl:template match="/results">
    <html>
      <head><title>Test Results for <xsl:value-of select="batch_item"/></title></head>
      <body>
        <div align="center">
          <h1>Test Results for <xsl:value-of select="batch_item"/></h1>
          <table border="1" cellpadding="4">
            <xsl:choose>
              <xsl:when test="result = 'Passed'"><xsl:attribute name="bgcolor">#00FF00</xsl:attribute></xsl:when>
              <xsl:when test="result = 'Failed'"><xsl:attribute name="bgcolor">#FF0000</xsl:attribute></xsl:when>
            </xsl:choose>
            <tr><th align="left">Date</th><td><xsl:value-of select="date"/></td></tr>
            <tr><th align="left">Time</th><td><xsl:value-of select="time"/></td></tr>
            <tr><th align="left">Result</th><td><xsl:value-of select="result"/></td></tr>
          </table>
          <h2>Log Files</h2>
          <table border="1" cellpadding="4">
            <tr><th>Log Files</th></tr>
            <xsl:for-each select="logfiles/logfile">
              <tr><td><a href="{.}"><xsl:value-of select="."/></a></td></tr>
            </xsl:for-each>
          </table>
        </div>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>
